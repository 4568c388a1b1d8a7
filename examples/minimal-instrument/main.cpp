// A minimal instrument program: logs on to the host, works in millimetres, sends one point and
// answers the host's commands through its own Messenger.
//
//   minimal-instrument --tarn 127.0.0.1:7300 [--refuse] [--exit-after SECONDS]
//
// Without --tarn the connection picker opens. Every command from the host and every change of
// the host link is printed on standard output, one line each.

#include "TarnInstrument.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void Say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// Accepts (or, with --refuse, refuses) every request and reports it.
class ExampleMessenger : public Messenger {
public:
    explicit ExampleMessenger(bool accept) : accept_(accept) {}

    void CollectionGroupTargetNamesFromTarn(std::string collection, std::string group,
                                            std::string target) override {
        Say("names " + collection + " " + group + " " + target);
    }
    bool BeginMeasureMessageFromTarn() override { return Answer("begin"); }
    bool StopMeasureMessageFromTarn() override { return Answer("stop"); }
    bool BatchMeasPointsFromTarn(std::vector<std::string> texts1, std::vector<std::string> texts2,
                                 std::vector<std::string> texts3,
                                 std::vector<Tarnvector> positions) override {
        for (std::size_t i = 0; i < positions.size(); ++i)
            Say("batch point " + texts1[i] + " " + texts2[i] + " " + texts3[i] + " " +
                std::to_string(positions[i].x) + " " + std::to_string(positions[i].y) + " " +
                std::to_string(positions[i].z));
        return Answer("batch");
    }
    bool OpCheckCommandFromTarn(std::string command) override { return Answer("opcheck " + command); }

private:
    bool Answer(const std::string& what) {
        Say(what + (accept_ ? " accepted" : " refused"));
        return accept_;
    }
    bool accept_;
};

constexpr int kInstrumentType = 100;

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);

    bool accept = true;
    double exitAfterSeconds = 0.0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--refuse") == 0)
            accept = false;
        else if (std::strcmp(argv[i], "--exit-after") == 0 && i + 1 < argc)
            exitAfterSeconds = std::atof(argv[++i]);
    }

    // The instrument owns its Messenger from here on.
    TarnInstrument instrument(*new ExampleMessenger(accept));
    instrument.GetAutoSock()->ParseCommandLine(argc, argv);

    if (!instrument.Logon(kInstrumentType, "Minimal")) {
        instrument.SignalInterfaceFailed();
        Say("logon failed");
        return 1;
    }
    instrument.SignalInterfaceReady();
    instrument.SetDistUnit(4); // millimetres
    Say("logged on");

    Tarnvector position{10.0, 20.0, 30.0};
    Tarnvector uncertainty{0.01, 0.01, 0.01};
    instrument.SendPointToTarn(position, uncertainty, 0.0, 0.0, false, "P1", "Group1", "Collection1", {});
    Say("point sent");

    // Report the host link as it follows the host's heartbeat.
    bool linkUp = true;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const bool now = instrument.IsConnectedToTarn();
        if (now != linkUp)
            Say(now ? "link up" : "link down");
        linkUp = now;
    });
    watch.start(50);

    if (exitAfterSeconds > 0.0)
        QTimer::singleShot(static_cast<int>(exitAfterSeconds * 1000.0), &app, &QCoreApplication::quit);
    return app.exec();
}
