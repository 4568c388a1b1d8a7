// The instrument's settings record: the base record and a derived class's share, stored through
// Serialize into the Persistence folder, and read back; damaged files keep the defaults.

#include "TestEnvironment.h"
#include "calder/Archive.h"
#include "calder/TarnInstBase.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

// A derived instrument with a share of its own after the base record. It loads into temporaries
// and takes them only when the whole share was read.
class SettingsInstrument : public TarnInstBase {
public:
    SettingsInstrument() : TarnInstBase(1, 1) {}
    void Serialize(CArchive& ar) override {
        TarnInstBase::Serialize(ar);
        if (ar.IsStoring()) {
            ar << distanceUnit << operatorNote;
        } else {
            std::uint32_t unit = 0;
            CString note;
            ar >> unit >> note;
            distanceUnit = unit;
            operatorNote = note;
        }
    }
    std::uint32_t distanceUnit = 1;
    CString operatorNote = L"default";
};

std::string ReadBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
}

class SettingsRecordTest : public ::testing::Test {
protected:
    // Points the instrument at its settings file in the Persistence folder, as an SDK does.
    void Prepare(TarnInstBase& instrument, const CString& fileName = L"TarnInstSDK_Test_Settings.bin") {
        ASSERT_NE(instrument.FindTarnDir(L"Persistence", &instrument.persistenceDir), 0);
        instrument.settingsFileName = fileName;
    }
    fs::path SettingsFile() const { return env.tarnHome() / "Persistence" / "TarnInstSDK_Test_Settings.bin"; }

    // A complete record written by the library itself, to damage in the tests.
    std::string GoodRecord() {
        SettingsInstrument writer;
        Prepare(writer);
        writer.hostAddress = L"192.168.10.20";
        writer.hostLabel = L"Hall 3 \u00e9";
        writer.hostPort = 7301;
        writer.distanceUnit = 4;
        writer.operatorNote = L"stored note";
        writer.SaveSettingsNoTTS();
        return ReadBytes(SettingsFile());
    }

    testsupport::ScopedTestEnvironment env;
};

TEST_F(SettingsRecordTest, FindTarnDirCreatesTheFolderUnderTheHostHome) {
    TarnInstBase instrument(1, 1);
    CString folder;
    ASSERT_NE(instrument.FindTarnDir(L"Persistence", &folder), 0);
    EXPECT_EQ(fs::path(QString::fromStdWString(folder).toStdString()), env.tarnHome() / "Persistence");
    EXPECT_TRUE(fs::is_directory(env.tarnHome() / "Persistence"));

    // Without TARN_HOME, the user's data folder holds the host's folders.
    env.Set("TARN_HOME", std::nullopt);
    ASSERT_NE(instrument.FindTarnDir(L"Persistence", &folder), 0);
    EXPECT_EQ(fs::path(QString::fromStdWString(folder).toStdString()),
              env.xdgData() / "Tarn" / "Persistence");
    EXPECT_TRUE(fs::is_directory(env.xdgData() / "Tarn" / "Persistence"));
    EXPECT_EQ(instrument.FindTarnDir(L"Persistence", nullptr), 0);
}

TEST_F(SettingsRecordTest, RecordRoundTripsWithTheDerivedShare) {
    const std::string bytes = GoodRecord();
    ASSERT_FALSE(bytes.empty());

    SettingsInstrument reader;
    Prepare(reader);
    ASSERT_NE(reader.DoInitInstanceStuff(false), 0);
    EXPECT_EQ(reader.hostAddress, L"192.168.10.20");
    EXPECT_EQ(reader.hostLabel, L"Hall 3 \u00e9");
    EXPECT_EQ(reader.hostPort, 7301u);
    EXPECT_EQ(reader.distanceUnit, 4u);
    EXPECT_EQ(reader.operatorNote, L"stored note");

    // Saving again replaces the file whole and leaves no temporary file behind.
    reader.hostPort = 7400;
    reader.SaveSettingsNoTTS();
    int files = 0;
    for (const auto& entry : fs::directory_iterator(env.tarnHome() / "Persistence")) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1);
    SettingsInstrument again;
    Prepare(again);
    ASSERT_NE(again.DoInitInstanceStuff(false), 0);
    EXPECT_EQ(again.hostPort, 7400u);
}

TEST_F(SettingsRecordTest, BaseRecordLayoutIsStable) {
    // Files written by earlier runs must stay readable: the base record's bytes are fixed.
    TarnInstBase instrument(1, 1);
    instrument.hostAddress = L"h";
    instrument.hostLabel = L"";
    instrument.hostPort = 0x1234;
    std::stringstream stream(std::ios::in | std::ios::out | std::ios::binary);
    {
        CArchive ar(stream, CArchive::store);
        instrument.Serialize(ar);
        ar.Flush();
    }
    const std::string expected("TNIB"
                               "\x01\x00\x00\x00"      // version 1
                               "\x01\x00\x00\x00h\x00" // address: one UTF-16 unit
                               "\x00\x00\x00\x00"      // empty label
                               "\x34\x12\x00\x00",     // port
                               4 + 4 + 6 + 4 + 4);
    EXPECT_EQ(stream.str(), expected);
}

TEST_F(SettingsRecordTest, DamagedFilesKeepTheDefaults) {
    const std::string good = GoodRecord();
    ASSERT_GT(good.size(), 20u);

    std::string wrongMarker = good;
    wrongMarker[0] = 'X';
    std::string newerVersion = good;
    newerVersion[4] = 2;
    std::string hugeString = good;
    hugeString.replace(8, 4, std::string("\xff\xff\xff\x7f", 4)); // address claims 2^31 units
    std::string badPort = good;
    {
        // The port follows marker, version and the two texts; set it above 65535.
        TarnInstBase probe(1, 1);
        probe.hostAddress = L"192.168.10.20";
        probe.hostLabel = L"Hall 3 \u00e9";
        std::stringstream s(std::ios::in | std::ios::out | std::ios::binary);
        {
            CArchive ar(s, CArchive::store);
            probe.Serialize(ar);
        }
        const std::size_t portAt = s.str().size() - 4;
        badPort.replace(portAt, 4, std::string("\x00\x00\x01\x00", 4));
    }

    struct Case {
        std::string name;
        std::optional<std::string> bytes; // nullopt: no file at all
    };
    std::vector<Case> cases = {
        {"missing", std::nullopt},
        {"empty", std::string()},
        {"garbage", std::string("this is not a settings record at all")},
        {"wrong marker", wrongMarker},
        {"newer version", newerVersion},
        {"huge string count", hugeString},
        {"port out of range", badPort},
        {"too large", std::string(2u << 20, '\0')},
    };
    // Every truncation, including those inside the derived share.
    for (std::size_t n = 1; n < good.size(); n += 3)
        cases.push_back({"truncated to " + std::to_string(n), good.substr(0, n)});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(SettingsFile());
        if (c.bytes)
            WriteBytes(SettingsFile(), *c.bytes);
        SettingsInstrument reader;
        Prepare(reader);
        reader.hostAddress = L"127.0.0.1";
        reader.hostLabel = L"previous";
        reader.hostPort = 7300;
        EXPECT_EQ(reader.DoInitInstanceStuff(false), 0);
        EXPECT_EQ(reader.hostAddress, L"127.0.0.1");
        EXPECT_EQ(reader.hostLabel, L"previous");
        EXPECT_EQ(reader.hostPort, 7300u);
        EXPECT_EQ(reader.distanceUnit, 1u);
        EXPECT_EQ(reader.operatorNote, L"default");
    }
}

TEST_F(SettingsRecordTest, AFileNameCannotLeaveThePersistenceFolder) {
    SettingsInstrument writer;
    Prepare(writer, L"../escaped/name.bin");
    writer.hostPort = 9;
    writer.SaveSettingsNoTTS();
    EXPECT_FALSE(fs::exists(env.tarnHome() / "escaped"));
    EXPECT_TRUE(fs::exists(env.tarnHome() / "Persistence" / ".._escaped_name.bin"));

    SettingsInstrument reader;
    Prepare(reader, L"../escaped/name.bin");
    ASSERT_NE(reader.DoInitInstanceStuff(false), 0);
    EXPECT_EQ(reader.hostPort, 9u);

    // Names that are no file name at all are refused.
    for (const CString& name : {CString(), CString(L"."), CString(L"..")}) {
        SettingsInstrument none;
        Prepare(none, name);
        none.SaveSettingsNoTTS();
        EXPECT_EQ(none.DoInitInstanceStuff(false), 0);
    }
}

TEST_F(SettingsRecordTest, AFailedSaveKeepsTheOldFile) {
    const std::string good = GoodRecord();
    // A derived share that fails while storing must not replace the good file with half a record.
    class FailingWriter : public TarnInstBase {
    public:
        FailingWriter() : TarnInstBase(1, 1) {}
        void Serialize(CArchive& ar) override {
            TarnInstBase::Serialize(ar);
            throw CArchiveException("share cannot be stored");
        }
    };
    FailingWriter writer;
    Prepare(writer);
    writer.hostPort = 1;
    writer.SaveSettingsNoTTS();
    EXPECT_EQ(ReadBytes(SettingsFile()), good);
}

} // namespace
