// Rows for the point senders. Lengths are given in millimetres; multiples of 25.4 arrive as
// whole inches.

#include "SenderCases.h"

namespace sendertest {

namespace {

using Names = std::vector<std::string>;

// Rows of the batch sender share their lists; each row says which list it shortens.
struct BatchLists {
    std::vector<Tarnvector> positions{V(25.4, 0, 0), V(0, 0, 25.4)};
    std::vector<Tarnxform> transforms{Translation(25.4, 0, 0), Translation(0, 0, 0)};
    std::vector<Tarnvector> sigmas{V(0.254, 0, 0), V(0, 0, 0.254)};
    Names collections{"C1", "C2"};
    Names groups{"G1", "G2"};
    Names targets{"B1", "B2"};

    QJsonObject Send(TarnInstrument& inst) {
        inst.SendBatchofPtsToTarn(positions, transforms, sigmas, collections, groups, targets, 2.54, 25.4,
                                  {"batch note"});
        return {{"positions", J(positions)}, {"transforms", J(transforms)}, {"sigmas", J(sigmas)}};
    }
};

const char* const kBatchUnconverted = R"({"positions":[[25.4,0,0],[0,0,25.4]],
    "transforms":[[1,0,0,25.4,0,1,0,0,0,0,1,0,0,0,0,1],[1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1]],
    "sigmas":[[0.254,0,0],[0,0,0.254]]})";

} // namespace

std::vector<SenderCase> MeasurementCases() {
    std::vector<SenderCase> rows;

    rows.push_back({"SendPointToTarn",
                    [](TarnInstrument& inst) {
                        Tarnvector position = V(1, 2, 3), sigma = V(0.1, 0, 0);
                        inst.SendPointToTarn(position, sigma, 0.5, 25.4, false, "P1", "G1", "C1",
                                             {"first note", "second note"});
                        return QJsonObject{{"position", J(position)}, {"sigma", J(sigma)}};
                    },
                    R"({"position":[0.03937007874015748,0.07874015748031496,0.11811023622047244],
                        "sigma":[0.003937007874015748,0,0]})",
                    R"([{"type":"TarnIPMeasurement","secondDistance":1,"probeRadius":0.01968503937007874,
                         "textLines":["ProbeRad.=0.019685 Sigma: x=0.003937, y=0.000000, z=0.000000. mag=0.003937",
                                      "first note","second note"],
                         "collectionName":"C1","groupName":"G1","targetName":"P1","modeFlag":1,
                         "data":[{"type":"TarnIPMeasDataUncertXYZ","probingDirection":{"kind":0},
                                  "position":[0.03937007874015748,0.07874015748031496,0.11811023622047244],
                                  "uncertainty":[0.003937007874015748,0,0]}]}])",
                    1});

    rows.push_back({"SendPointToTarn as an update",
                    [](TarnInstrument& inst) {
                        Tarnvector position = V(25.4, 0, 0), sigma = V(0, 2.54, 0);
                        inst.SendPointToTarn(position, sigma, 25.4, 50.8, true, "P1", "G1", "C1", {"note"});
                        return QJsonObject{{"position", J(position)}, {"sigma", J(sigma)}};
                    },
                    R"({"position":[1,0,0],"sigma":[0,0.1,0]})",
                    R"([{"type":"TarnIPUpdate","secondDistance":2,"probeRadius":1,
                         "data":[{"type":"TarnIPMeasDataUncertXYZ","probingDirection":{"kind":0},
                                  "position":[1,0,0],"uncertainty":[0,0.1,0]}]}])",
                    1});

    rows.push_back(
        {"SendEDMTheoPtToTarn",
         [](TarnInstrument& inst) {
             Tarnvector distanceAngles = V(1000, 30, 90);
             Tarnxform probe = Translation(25.4, 0, -50.8);
             inst.SendEDMTheoPtToTarn(distanceAngles, probe, true, 25.4, 12.7, true, "E1", "G1", "C1",
                                      {"edm"});
             return QJsonObject{{"distanceAngles", J(distanceAngles)}, {"probe", J(probe)}};
         },
         R"({"distanceAngles":[39.37007874015748,30,90],"probe":[1,0,0,1,0,1,0,0,0,0,1,-2,0,0,0,1]})",
         R"([{"type":"TarnIPMeasurement","secondDistance":0.5,"probeRadius":1,"textLines":["ProbeRad.=0.500000 ","edm"],
              "collectionName":"C1","groupName":"G1","targetName":"E1","modeFlag":0,
              "data":[{"type":"TarnIPMeasDataEDMTheo",
                       "probingDirection":{"kind":2,"transform":[1,0,0,1,0,1,0,0,0,0,1,-2,0,0,0,1]},
                       "horizontalAngle":-30,"verticalAngle":90,"distance":39.37007874015748}]}])",
         1});

    // The angle is brought into [0, 360) before it is negated; the caller's angle stays.
    for (const auto& [angle, sent] : {std::pair{390.0, -30.0}, std::pair{-30.0, -330.0}}) {
        rows.push_back(
            {"SendEDMTheoPtToTarn with the horizontal angle " + std::to_string(static_cast<int>(angle)),
             [angle = angle](TarnInstrument& inst) {
                 Tarnvector distanceAngles = V(25.4, angle, 45);
                 Tarnxform probe = Translation(0, 0, 0);
                 inst.SendEDMTheoPtToTarn(distanceAngles, probe, false, 0, 0, false, "E2", "G1", "C1", {});
                 return QJsonObject{{"distanceAngles", J(distanceAngles)}};
             },
             R"({"distanceAngles":[1,)" + std::to_string(angle) + R"(,45]})",
             R"([{"type":"TarnIPMeasurement","textLines":["ProbeRad.=0.000000 "],"modeFlag":0,
                             "data":[{"type":"TarnIPMeasDataEDMTheo","probingDirection":{"kind":0},
                                      "horizontalAngle":)" +
                 std::to_string(sent) + R"(,"verticalAngle":45,"distance":1}]}])",
             1});
    }

    rows.push_back({"SendCMMPtToTarn with auxiliary values",
                    [](TarnInstrument& inst) {
                        Tarnvector position = V(25.4, 0, 0);
                        Tarnxform probe = Translation(0, 25.4, 0);
                        std::vector<double> aux{1.5, -2.5};
                        inst.SendCMMPtToTarn(position, probe, 2.54, 0, false, true, aux, "M1", "G1", "C1",
                                             {"cmm"});
                        return QJsonObject{{"position", J(position)}, {"probe", J(probe)}, {"aux", J(aux)}};
                    },
                    R"({"position":[1,0,0],"probe":[1,0,0,0,0,1,0,1,0,0,1,0,0,0,0,1],"aux":[1.5,-2.5]})",
                    R"([{"type":"TarnIPMeasurement","secondDistance":0,"probeRadius":0.1,
              "textLines":["CMM ProbeRad = 0.100000","cmm"],"targetName":"M1","modeFlag":1,
              "data":[{"type":"TarnIPMeasDataCMM",
                       "probingDirection":{"kind":2,"transform":[1,0,0,0,0,1,0,1,0,0,1,0,0,0,0,1]},
                       "position":[1,0,0],"auxRows":2,"auxColumns":1,"auxValues":[1.5,-2.5]}]}])",
                    1});

    rows.push_back({"SendCMMPtToTarn as an update without auxiliary values",
                    [](TarnInstrument& inst) {
                        Tarnvector position = V(0, 0, 25.4);
                        Tarnxform probe = Translation(0, 0, 0);
                        std::vector<double> aux{3.0};
                        inst.SendCMMPtToTarn(position, probe, 2.54, 25.4, true, false, aux, "M2", "G1", "C1",
                                             {});
                        return QJsonObject{{"position", J(position)}, {"aux", J(aux)}};
                    },
                    R"({"position":[0,0,1],"aux":[3]})",
                    R"([{"type":"TarnIPUpdate","secondDistance":1,"probeRadius":0.1,
                         "data":[{"type":"TarnIPMeasDataCMM","probingDirection":{"kind":2},
                                  "position":[0,0,1],"auxRows":0,"auxValues":[]}]}])",
                    1});

    rows.push_back(
        {"SendIJKUncertPointToTarn",
         [](TarnInstrument& inst) {
             Tarnvector position = V(25.4, 50.8, 76.2), direction = V(0, 0, 1), sigma = V(0.254, 0, 0);
             inst.SendIJKUncertPointToTarn(position, direction, sigma, 1, 25.4, false, "I1", "G1", "C1",
                                           {"ijk"});
             return QJsonObject{{"position", J(position)}, {"direction", J(direction)}, {"sigma", J(sigma)}};
         },
         R"({"position":[1,2,3],"direction":[0,0,1],"sigma":[0.01,0,0]})",
         R"([{"type":"TarnIPMeasurement","secondDistance":1,"probeRadius":0.03937007874015748,
              "textLines":["ProbeRad.=1.000000 Sigma: x=0.010000, y=0.000000, z=0.000000. mag=0.010000","ijk"],
              "collectionName":"C1","groupName":"G1","targetName":"I1","modeFlag":1,
              "data":[{"type":"TarnIPMeasDataUncertXYZ","probingDirection":{"kind":1,"direction":[0,0,1]},
                       "position":[1,2,3],"uncertainty":[0.01,0,0]}]}])",
         1});

    // A probe turned 90 degrees about Z, at (1, 1, 1) inches.
    const auto probePose = [] {
        Tarnxform t{{{0, -1, 0, 25.4}, {1, 0, 0, 25.4}, {0, 0, 1, 25.4}, {0, 0, 0, 1}}};
        return t;
    };
    const char* const probeInInches = "[0,-1,0,1,1,0,0,1,0,0,1,1,0,0,0,1]";
    for (const bool asFrame : {false, true}) {
        rows.push_back(
            {asFrame ? "Send6DPointToTarn as a frame" : "Send6DPointToTarn",
             [asFrame, probePose](TarnInstrument& inst) {
                 Tarnvector position = V(25.4, 0, 0), sigma = V(0, 0.254, 0);
                 Tarnxform probe = probePose();
                 inst.Send6DPointToTarn(position, probe, 1.5, sigma, 2.54, 5.08, asFrame, "S1", "G1", "C1",
                                        {"6d"});
                 return QJsonObject{{"position", J(position)}, {"probe", J(probe)}, {"sigma", J(sigma)}};
             },
             std::string(R"({"position":[1,0,0],"sigma":[0,0.01,0],"probe":)") + probeInInches + "}",
             asFrame
                 ? std::string(R"([{"type":"TarnIPGeomFrame","collectionName":"C1","name":"S1",
                                        "textLines":["TimeStamp, 1.500000","Object <S1>",""],"transform":)") +
                       probeInInches +
                       R"(,"flagA":1,"flagB":1,"flagC":0,"flagD":1,"secondDistance":0.2,"probeRadius":0.1}])"
                 : std::string(R"([{"type":"TarnIPMeasurement","secondDistance":0.2,"probeRadius":0.1,
                          "textLines":["ProbeRad.=0.200000 Sigma: x=0.000000, y=0.010000, z=0.000000. mag=0.010000","6d"],
                          "collectionName":"C1","groupName":"G1","targetName":"S1","modeFlag":1,
                          "data":[{"type":"TarnIPMeasDataUncertXYZ","probingDirection":{"kind":2,"transform":)") +
                       probeInInches + R"(},"position":[1,0,0],"uncertainty":[0,0.01,0]}]}])",
             1});
    }

    rows.push_back(
        {"SendIJKUncertPointArrayToTarn",
         [](TarnInstrument& inst) {
             std::vector<Tarnvector> positions{V(25.4, 0, 0), V(0, 25.4, 0)};
             std::vector<Tarnvector> directions{V(1, 0, 0), V(0, 1, 0)};
             std::vector<Tarnvector> sigmas{V(0.254, 0, 0), V(0, 0.254, 0)};
             inst.SendIJKUncertPointArrayToTarn(positions, directions, sigmas, 25.4, 50.8, "A1", "G1", "C1");
             return QJsonObject{
                 {"positions", J(positions)}, {"directions", J(directions)}, {"sigmas", J(sigmas)}};
         },
         R"({"positions":[[1,0,0],[0,1,0]],"directions":[[1,0,0],[0,1,0]],"sigmas":[[0.01,0,0],[0,0.01,0]]})",
         R"([{"type":"TarnIPMeasurement","secondDistance":2,"probeRadius":1,"textLines":[],
              "collectionName":"C1","groupName":"G1","targetName":"A1","modeFlag":1,
              "data":[{"type":"TarnIPMeasDataUncertXYZ","probingDirection":{"kind":1,"direction":[1,0,0]},
                       "position":[1,0,0],"uncertainty":[0.01,0,0]},
                      {"type":"TarnIPMeasDataUncertXYZ","probingDirection":{"kind":1,"direction":[0,1,0]},
                       "position":[0,1,0],"uncertainty":[0,0.01,0]}]}])",
         1});

    rows.push_back({"SendIJKUncertPointArrayToTarn with fewer directions than points",
                    [](TarnInstrument& inst) {
                        std::vector<Tarnvector> positions{V(25.4, 0, 0), V(0, 25.4, 0)};
                        std::vector<Tarnvector> directions{V(1, 0, 0)};
                        std::vector<Tarnvector> sigmas{V(0.254, 0, 0), V(0, 0.254, 0)};
                        inst.SendIJKUncertPointArrayToTarn(positions, directions, sigmas, 1, 1, "A1", "G1",
                                                           "C1");
                        return QJsonObject{{"positions", J(positions)}, {"sigmas", J(sigmas)}};
                    },
                    R"({"positions":[[25.4,0,0],[0,25.4,0]],"sigmas":[[0.254,0,0],[0,0.254,0]]})", "[]", 0});

    rows.push_back({"SendIJKUncertPointArrayToTarn with no points",
                    [](TarnInstrument& inst) {
                        std::vector<Tarnvector> none;
                        inst.SendIJKUncertPointArrayToTarn(none, none, none, 25.4, 0, "A0", "G1", "C1");
                        return QJsonObject{};
                    },
                    "{}", R"([{"type":"TarnIPMeasurement","targetName":"A0","probeRadius":1,"data":[]}])",
                    1});

    rows.push_back({"SendIJKUncertPointWithNamesArrayToTarn",
                    [](TarnInstrument& inst) {
                        std::vector<Tarnvector> positions{V(25.4, 0, 0), V(0, 25.4, 0), V(0, 0, 25.4)};
                        std::vector<Tarnvector> directions{V(0, 0, 1), V(0, 0, 1), V(0, 0, -1)};
                        std::vector<Tarnvector> sigmas{V(0.254, 0, 0), V(0, 0.254, 0), V(0, 0, 0.254)};
                        inst.SendIJKUncertPointWithNamesArrayToTarn(
                            positions, directions, sigmas, {"N1", "N2", "N3"}, 25.4, 2.54, "G1", "C1");
                        return QJsonObject{{"positions", J(positions)},
                                           {"directions", J(directions)},
                                           {"sigmas", J(sigmas)}};
                    },
                    R"({"positions":[[1,0,0],[0,1,0],[0,0,1]],"directions":[[0,0,1],[0,0,1],[0,0,-1]],
             "sigmas":[[0.01,0,0],[0,0.01,0],[0,0,0.01]]})",
                    R"([{"type":"TarnIPMeasurement","secondDistance":0.1,"probeRadius":1,"textLines":[],
              "collectionName":"C1","groupName":"G1","targetName":"N1","modeFlag":1,
              "data":[{"type":"TarnIPMeasDataUncertXYZ","probingDirection":{"kind":1,"direction":[0,0,1]},
                       "position":[1,0,0],"uncertainty":[0.01,0,0]}]},
             {"type":"TarnIPMeasurement","secondDistance":0.1,"probeRadius":1,"textLines":[],
              "collectionName":"C1","groupName":"G1","targetName":"N2","modeFlag":1,
              "data":[{"type":"TarnIPMeasDataUncertXYZ","probingDirection":{"kind":1,"direction":[0,0,1]},
                       "position":[0,1,0],"uncertainty":[0,0.01,0]}]},
             {"type":"TarnIPMeasurement","secondDistance":0.1,"probeRadius":1,"textLines":[],
              "collectionName":"C1","groupName":"G1","targetName":"N3","modeFlag":1,
              "data":[{"type":"TarnIPMeasDataUncertXYZ","probingDirection":{"kind":1,"direction":[0,0,-1]},
                       "position":[0,0,1],"uncertainty":[0,0,0.01]}]}])",
                    1});

    rows.push_back({"SendIJKUncertPointWithNamesArrayToTarn with three points and two names",
                    [](TarnInstrument& inst) {
                        std::vector<Tarnvector> positions{V(25.4, 0, 0), V(0, 25.4, 0), V(0, 0, 25.4)};
                        std::vector<Tarnvector> directions(3, V(0, 0, 1));
                        std::vector<Tarnvector> sigmas(3, V(0.254, 0, 0));
                        inst.SendIJKUncertPointWithNamesArrayToTarn(positions, directions, sigmas,
                                                                    {"N1", "N2"}, 1, 1, "G1", "C1");
                        return QJsonObject{{"positions", J(positions)}, {"sigmas", J(sigmas)}};
                    },
                    R"({"positions":[[25.4,0,0],[0,25.4,0],[0,0,25.4]],
                        "sigmas":[[0.254,0,0],[0.254,0,0],[0.254,0,0]]})",
                    "[]", 0});

    // An empty gathered write puts no byte on the link: the host sees nothing at all.
    rows.push_back({"SendIJKUncertPointWithNamesArrayToTarn with no points",
                    [](TarnInstrument& inst) {
                        std::vector<Tarnvector> none;
                        inst.SendIJKUncertPointWithNamesArrayToTarn(none, none, none, {}, 1, 1, "G1", "C1");
                        return QJsonObject{};
                    },
                    "{}", "[]", 0});

    rows.push_back({"SendBatchofPtsToTarn with a transform per point",
                    [](TarnInstrument& inst) { return BatchLists{}.Send(inst); },
                    R"({"positions":[[1,0,0],[0,0,1]],
             "transforms":[[1,0,0,1,0,1,0,0,0,0,1,0,0,0,0,1],[1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1]],
             "sigmas":[[0.01,0,0],[0,0,0.01]]})",
                    R"([{"type":"TarnIPMeasurement","secondDistance":1,"probeRadius":0.1,
              "textLines":["ProbeRad.=1.000000 Sigma: x=0.010000, y=0.000000, z=0.000000. mag=0.010000","batch note"],
              "collectionName":"C1","groupName":"G1","targetName":"B1",
              "data":[{"type":"TarnIPMeasDataUncertXYZ",
                       "probingDirection":{"kind":2,"transform":[1,0,0,1,0,1,0,0,0,0,1,0,0,0,0,1]},
                       "position":[1,0,0],"uncertainty":[0.01,0,0]}]},
             {"type":"TarnIPMeasurement","secondDistance":1,"probeRadius":0.1,
              "textLines":["ProbeRad.=1.000000 Sigma: x=0.000000, y=0.000000, z=0.010000. mag=0.010000","batch note"],
              "collectionName":"C2","groupName":"G2","targetName":"B2",
              "data":[{"type":"TarnIPMeasDataUncertXYZ",
                       "probingDirection":{"kind":2,"transform":[1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1]},
                       "position":[0,0,1],"uncertainty":[0,0,0.01]}]}])",
                    2});

    rows.push_back({"SendBatchofPtsToTarn without transforms",
                    [](TarnInstrument& inst) {
                        BatchLists lists;
                        lists.transforms.clear();
                        return lists.Send(inst);
                    },
                    R"({"positions":[[1,0,0],[0,0,1]],"transforms":[],"sigmas":[[0.01,0,0],[0,0,0.01]]})",
                    R"([{"type":"TarnIPMeasurement","secondDistance":1,"probeRadius":0.1,"textLines":[],
                         "collectionName":"C1","groupName":"G1","targetName":"B1",
                         "data":[{"type":"TarnIPMeasDataUncertXYZ","probingDirection":{"kind":1,"direction":[0,0,0]},
                                  "position":[1,0,0],"uncertainty":[0.01,0,0]},
                                 {"type":"TarnIPMeasDataUncertXYZ","probingDirection":{"kind":1,"direction":[0,0,0]},
                                  "position":[0,0,1],"uncertainty":[0,0,0.01]}]}])",
                    1});

    // Lists too short to be read for every point: nothing is read past their end, nothing is
    // converted and nothing is sent.
    struct Shortened {
        const char* what;
        void (*shorten)(BatchLists&);
    };
    const Shortened shortened[] = {
        {"fewer target names than points", [](BatchLists& l) { l.targets.pop_back(); }},
        {"fewer group names than points", [](BatchLists& l) { l.groups.pop_back(); }},
        {"fewer collection names than points", [](BatchLists& l) { l.collections.pop_back(); }},
        {"fewer uncertainties than points", [](BatchLists& l) { l.sigmas.pop_back(); }},
        {"no transforms and no target name",
         [](BatchLists& l) {
             l.transforms.clear();
             l.targets.clear();
         }},
        {"no transforms and no collection name",
         [](BatchLists& l) {
             l.transforms.clear();
             l.collections.clear();
         }},
    };
    for (const Shortened& s : shortened) {
        std::string caller = kBatchUnconverted;
        if (std::string(s.what).find("no transforms") != std::string::npos)
            caller = R"({"positions":[[25.4,0,0],[0,0,25.4]],"transforms":[]})";
        else if (std::string(s.what).find("uncertainties") != std::string::npos)
            caller = R"({"positions":[[25.4,0,0],[0,0,25.4]],"sigmas":[[0.254,0,0]]})";
        rows.push_back({std::string("SendBatchofPtsToTarn with ") + s.what,
                        [shorten = s.shorten](TarnInstrument& inst) {
                            BatchLists lists;
                            shorten(lists);
                            return lists.Send(inst);
                        },
                        caller, "[]", 0});
    }

    rows.push_back({"a text with a zero byte is cut there",
                    [](TarnInstrument& inst) {
                        Tarnvector position = V(0, 0, 0), sigma = V(0, 0, 0);
                        using namespace std::string_literals;
                        inst.SendPointToTarn(position, sigma, 0, 0, false, "Pt\0hidden"s, "G\0x"s, "C\0y"s,
                                             {"note\0tail"s});
                        return QJsonObject{};
                    },
                    "{}",
                    R"([{"type":"TarnIPMeasurement","targetName":"Pt","groupName":"G","collectionName":"C",
                         "textLines":["ProbeRad.=0.000000 Sigma: x=0.000000, y=0.000000, z=0.000000. mag=0.000000",
                                      "note"]}])",
                    1});

    return rows;
}

} // namespace sendertest
