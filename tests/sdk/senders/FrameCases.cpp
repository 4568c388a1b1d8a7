// Rows for the frame and cloud senders. Lengths are given in millimetres.

#include "SenderCases.h"

namespace sendertest {

std::vector<SenderCase> FrameCases() {
    std::vector<SenderCase> rows;

    rows.push_back({"SendFrameDataToTarn",
                    [](TarnInstrument& inst) {
                        Tarnxform frame = Translation(10, 0, 0);
                        inst.SendFrameDataToTarn(frame, 2.25, true, false, true, "Obj", "Col", {"frame note"},
                                                 25.4, 50.8);
                        return QJsonObject{{"frame", J(frame)}};
                    },
                    R"({"frame":[1,0,0,0.39370078740157477,0,1,0,0,0,0,1,0,0,0,0,1]})",
                    R"([{"type":"TarnIPGeomFrame","collectionName":"Col","name":"Obj",
                         "textLines":["TimeStamp, 2.250000","Object <Obj>","frame note"],
                         "transform":[1,0,0,0.39370078740157477,0,1,0,0,0,0,1,0,0,0,0,1],
                         "flagA":1,"flagB":0,"flagC":0,"flagD":1,"secondDistance":2,"probeRadius":1}])",
                    1});

    // The two distances of this sender go to the host as given.
    rows.push_back({"SendMultipleFrameDataToTarn with a time stamp per frame",
                    [](TarnInstrument& inst) {
                        std::vector<Tarnxform> frames{Translation(25.4, 0, 0), Translation(0, 50.8, 0)};
                        std::vector<double> stamps{1.0, 2.5};
                        inst.SendMultipleFrameDataToTarn(frames, stamps, "Obj", 5, 6);
                        return QJsonObject{{"frames", J(frames)}, {"stamps", J(stamps)}};
                    },
                    R"({"frames":[[1,0,0,1,0,1,0,0,0,0,1,0,0,0,0,1],[1,0,0,0,0,1,0,2,0,0,1,0,0,0,0,1]],
                        "stamps":[1,2.5]})",
                    R"([{"type":"TarnIPGeomFrame","collectionName":"","name":"",
                         "textLines":["TimeStamp, 1.000000","Object <Obj>"],
                         "transform":[1,0,0,1,0,1,0,0,0,0,1,0,0,0,0,1],
                         "flagA":0,"flagB":0,"flagC":0,"flagD":0,"secondDistance":6,"probeRadius":5},
                        {"type":"TarnIPGeomFrame","collectionName":"","name":"",
                         "textLines":["TimeStamp, 2.500000","Object <Obj>"],
                         "transform":[1,0,0,0,0,1,0,2,0,0,1,0,0,0,0,1],
                         "flagA":0,"flagB":0,"flagC":0,"flagD":0,"secondDistance":6,"probeRadius":5}])",
                    1});

    rows.push_back(
        {"SendMultipleFrameDataToTarn with one time stamp for two frames",
         [](TarnInstrument& inst) {
             std::vector<Tarnxform> frames{Translation(25.4, 0, 0), Translation(0, 50.8, 0)};
             std::vector<double> stamps{1.0};
             inst.SendMultipleFrameDataToTarn(frames, stamps, "Obj", 0, 0);
             return QJsonObject{{"frames", J(frames)}};
         },
         R"({"frames":[[1,0,0,1,0,1,0,0,0,0,1,0,0,0,0,1],[1,0,0,0,0,1,0,2,0,0,1,0,0,0,0,1]]})",
         R"([{"type":"TarnIPGeomFrame","textLines":[],"transform":[1,0,0,1,0,1,0,0,0,0,1,0,0,0,0,1]},
                        {"type":"TarnIPGeomFrame","textLines":[],"transform":[1,0,0,0,0,1,0,2,0,0,1,0,0,0,0,1]}])",
         1});

    rows.push_back({"SendMultipleFrameDataToTarn with no frames",
                    [](TarnInstrument& inst) {
                        std::vector<Tarnxform> frames;
                        std::vector<double> stamps;
                        inst.SendMultipleFrameDataToTarn(frames, stamps, "Obj", 0, 0);
                        return QJsonObject{};
                    },
                    "{}", "[]", 0});

    // A frame still at the origin (after the conversion) is left out of the network.
    for (const bool named : {true, false}) {
        rows.push_back({named ? "SendMultipleInstFramesToTarn"
                              : "SendMultipleInstFramesToTarn with two names for three frames",
                        [named](TarnInstrument& inst) {
                            std::vector<Tarnxform> frames{Translation(25.4, 0, 0), Translation(0, 0, 0),
                                                          Translation(0, 0, -25.4)};
                            std::vector<std::string> names{"Cam1", "Cam2"};
                            if (named)
                                names.push_back("Cam3");
                            std::vector<std::int64_t> ids{7, 8, 9};
                            inst.SendMultipleInstFramesToTarn(frames, names, ids);
                            return QJsonObject{{"frames", J(frames)}};
                        },
                        R"({"frames":[[1,0,0,1,0,1,0,0,0,0,1,0,0,0,0,1],[1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1],
                           [1,0,0,0,0,1,0,0,0,0,1,-1,0,0,0,1]]})",
                        std::string(R"([{"type":"TarnIPNetworkElementList","elements":[
                  {"type":"TarnIPNetworkElement","name":")") +
                            (named ? "Cam1" : "") + R"(","matrix":[1,0,0,1,0,1,0,0,0,0,1,0,0,0,0,1]},
                  {"type":"TarnIPNetworkElement","name":")" +
                            (named ? "Cam3" : "") + R"(","matrix":[1,0,0,0,0,1,0,0,0,0,1,-1,0,0,0,1]}]}])",
                        1});
    }

    rows.push_back({"SendPointSetTrackingToTarn",
                    [](TarnInstrument& inst) {
                        std::vector<Tarnvector> points{V(25.4, 0, 0), V(0, 25.4, 0)};
                        std::vector<std::string> names{"T1", "T2"};
                        inst.SendPointSetTrackingToTarn(points, names);
                        return QJsonObject{{"points", J(points)}};
                    },
                    R"({"points":[[1,0,0],[0,1,0]]})",
                    R"([{"type":"TarnIPPointSetTracking","namedPoints":[
                         {"type":"VectorNamed","name":"T1","vector":[1,0,0]},
                         {"type":"VectorNamed","name":"T2","vector":[0,1,0]}]}])",
                    1});

    rows.push_back({"SendPointSetTrackingToTarn with one name for two points",
                    [](TarnInstrument& inst) {
                        std::vector<Tarnvector> points{V(25.4, 0, 0), V(0, 25.4, 0)};
                        std::vector<std::string> names{"T1"};
                        inst.SendPointSetTrackingToTarn(points, names);
                        return QJsonObject{{"points", J(points)}};
                    },
                    R"({"points":[[1,0,0],[0,1,0]]})", "[]", 0});

    // The stripes' transforms are converted in the caller's stripes, the points only in the
    // packet; with the link down nothing is touched.
    rows.push_back({"SendScanStripeCloudToTarn",
                    [](TarnInstrument& inst) {
                        std::vector<TarnScanStripe> stripes(2);
                        stripes[0].points = {V(25.4, 0, 0), V(50.8, 0, 0)};
                        stripes[0].transform = Translation(0, 0, 25.4);
                        stripes[1].points = {V(0, 25.4, 0)};
                        stripes[1].transform = Translation(0, 0, 0);
                        inst.SendScanStripeCloudToTarn(stripes, "Scan", "Col");
                        QJsonArray points, transforms;
                        for (const TarnScanStripe& s : stripes) {
                            points.append(J(s.points));
                            transforms.append(J(s.transform));
                        }
                        return QJsonObject{{"points", points}, {"transforms", transforms}};
                    },
                    R"({"points":[[[25.4,0,0],[50.8,0,0]],[[0,25.4,0]]],
                        "transforms":[[1,0,0,0,0,1,0,0,0,0,1,1,0,0,0,1],[1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1]]})",
                    R"([{"type":"TarnIPScanStripeCloud","collectionName":"Col","name":"Scan","stripes":[
                         {"type":"ScanStripe","points":[[1,0,0],[2,0,0]],"transform":[1,0,0,0,0,1,0,0,0,0,1,1,0,0,0,1]},
                         {"type":"ScanStripe","points":[[0,1,0]],"transform":[1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1]}]}])",
                    1,
                    R"({"points":[[[25.4,0,0],[50.8,0,0]],[[0,25.4,0]]],
                        "transforms":[[1,0,0,0,0,1,0,0,0,0,1,25.4,0,0,0,1],[1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1]]})"});

    rows.push_back(
        {"SendPointCloudToTarn",
         [](TarnInstrument& inst) {
             std::vector<Tarnvector> points{V(25.4, 0, 0), V(0, 0, 76.2)};
             inst.SendPointCloudToTarn(points, "Cloud", "Col");
             return QJsonObject{{"points", J(points)}};
         },
         R"({"points":[[25.4,0,0],[0,0,76.2]]})",
         R"([{"type":"TarnIPCloud","collectionName":"Col","name":"Cloud","points":[[1,0,0],[0,0,3]]}])", 1});

    return rows;
}

} // namespace sendertest
