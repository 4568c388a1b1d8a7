// Rows for the geometry senders and the removal of the 6D target model. Lengths are given in
// millimetres unless a row sets another unit.

#include "SenderCases.h"

namespace sendertest {

std::vector<SenderCase> GeometryCases() {
    std::vector<SenderCase> rows;

    // The code is a byte: 'P' is 80, 0xFF is 255 (not -1).
    for (const auto& [code, sent] : {std::pair{'P', 80}, std::pair{static_cast<char>(0xFF), 255}}) {
        rows.push_back(
            {"SendLineToTarn with the code " + std::to_string(sent),
             [code = code](TarnInstrument& inst) {
                 Tarnvector p1 = V(25.4, 0, 0), p2 = V(0, 50.8, 0);
                 inst.SendLineToTarn(p1, p2, code, "L1", "Col", {"line note"});
                 return QJsonObject{{"p1", J(p1)}, {"p2", J(p2)}};
             },
             R"({"p1":[1,0,0],"p2":[0,2,0]})",
             R"([{"type":"TarnIPGeomLine","collectionName":"Col","name":"L1","textLines":["line note"],
                             "point1":[1,0,0],"point2":[0,2,0],"code":)" +
                 std::to_string(sent) + "}]",
             1});
    }

    // The reserved value changes nothing.
    for (const double reserved : {0.0, 99.5}) {
        rows.push_back({"SendCircleToTarn with the reserved value " + std::to_string(reserved),
                        [reserved](TarnInstrument& inst) {
                            Tarnxform frame{{{0, -1, 0, 0}, {1, 0, 0, 0}, {0, 0, 1, 25.4}, {0, 0, 0, 1}}};
                            inst.SendCircleToTarn(frame, 12.7, reserved, "Circle", "Col", {});
                            return QJsonObject{{"frame", J(frame)}};
                        },
                        R"({"frame":[0,-1,0,0,1,0,0,0,0,0,1,1,0,0,0,1]})",
                        R"([{"type":"TarnIPGeomCircle","collectionName":"Col","name":"Circle","textLines":[],
                             "transform":[0,-1,0,0,1,0,0,0,0,0,1,1,0,0,0,1],"radius":0.5}])",
                        1});
    }

    rows.push_back(
        {"SendSphereToTarn in centimetres",
         [](TarnInstrument& inst) {
             inst.SetDistUnit(3);
             Tarnvector center = V(1, 0, 0);
             inst.SendSphereToTarn(center, 2, "Sphere", "Col", {"s1", "s2"});
             inst.SetDistUnit(4);
             return QJsonObject{{"center", J(center)}};
         },
         R"({"center":[0.3937007874015748,0,0]})",
         R"([{"type":"TarnIPGeomSphere","collectionName":"Col","name":"Sphere","textLines":["s1","s2"],
                         "center":[0.3937007874015748,0,0],"radius":0.7874015748031497}])",
         1});

    rows.push_back({"SendCylinderToTarn",
                    [](TarnInstrument& inst) {
                        Tarnvector p1 = V(0, 0, 0), p2 = V(0, 0, 254);
                        inst.SendCylinderToTarn(p1, p2, 25.4, "Cyl", "Col", {});
                        return QJsonObject{{"p1", J(p1)}, {"p2", J(p2)}};
                    },
                    R"({"p1":[0,0,0],"p2":[0,0,10]})",
                    R"([{"type":"TarnIPGeomCylinder","collectionName":"Col","name":"Cyl","textLines":[],
                         "point1":[0,0,0],"point2":[0,0,10],"radius":1}])",
                    1});

    // No plane packet exists: the frame is converted and nothing goes out, connected or not.
    rows.push_back({"SendPlaneToTarn",
                    [](TarnInstrument& inst) {
                        Tarnxform frame = Translation(25.4, 0, 0);
                        std::vector<Tarnvector> points{V(25.4, 0, 0)};
                        inst.SendPlaneToTarn(frame, points, "Plane", "Col", {});
                        return QJsonObject{{"frame", J(frame)}, {"points", J(points)}};
                    },
                    R"({"frame":[1,0,0,1,0,1,0,0,0,0,1,0,0,0,0,1],"points":[[25.4,0,0]]})", "[]", 0});

    rows.push_back({"Remove6DTargetModel",
                    [](TarnInstrument& inst) {
                        inst.Remove6DTargetModel();
                        return QJsonObject{};
                    },
                    "{}",
                    R"([{"type":"TarnIPGeomFrame","collectionName":"","name":"","textLines":[],
                         "transform":[1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1],
                         "flagA":1,"flagB":0,"flagC":1,"flagD":0,"secondDistance":0,"probeRadius":0}])",
                    1});

    return rows;
}

} // namespace sendertest
