#pragma once
// One row per sender call: what it does to the caller's objects and what the host receives.
// The same rows run connected, with the link down, and on an instrument that never logged on.

#include "TarnInstrument.h"

#include <QJsonArray>
#include <QJsonObject>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace sendertest {

struct SenderCase {
    std::string name;
    // Calls the sender (distance unit millimetres) on objects of its own and returns them as
    // they are afterwards.
    std::function<QJsonObject(TarnInstrument&)> send;
    std::string caller;              // the caller's objects afterwards (JSON object)
    std::string packets;             // what the host receives while the link is up (JSON array of frames)
    std::size_t writes;              // how many writes those frames arrive in
    std::string callerWhenDown = {}; // the caller's objects when nothing is sent; empty: `caller`
};

std::vector<SenderCase> MeasurementCases();
std::vector<SenderCase> FrameCases();
std::vector<SenderCase> GeometryCases();

// ---- Building the rows ----

inline Tarnvector V(double x, double y, double z) {
    return Tarnvector{x, y, z};
}

// The identity rotation with translation (x, y, z).
inline Tarnxform Translation(double x, double y, double z) {
    Tarnxform t;
    t.m[0][3] = x;
    t.m[1][3] = y;
    t.m[2][3] = z;
    return t;
}

inline QJsonArray J(const Tarnvector& v) {
    return QJsonArray{v.x, v.y, v.z};
}

inline QJsonArray J(const Tarnxform& t) {
    QJsonArray out;
    for (const auto& row : t.m)
        for (double value : row)
            out.append(value);
    return out;
}

inline QJsonArray J(const std::vector<Tarnvector>& list) {
    QJsonArray out;
    for (const Tarnvector& v : list)
        out.append(J(v));
    return out;
}

inline QJsonArray J(const std::vector<Tarnxform>& list) {
    QJsonArray out;
    for (const Tarnxform& t : list)
        out.append(J(t));
    return out;
}

inline QJsonArray J(const std::vector<double>& list) {
    QJsonArray out;
    for (double d : list)
        out.append(d);
    return out;
}

} // namespace sendertest
