// The picker's host tree over the discovery registry, driven headless.

#include "calder/BrowseTree.h"
#include "TestEnvironment.h"
#include "calder/Discovery.h"
#include "tarnhostsim/HostSimulator.h"

#include <QTreeWidgetItem>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <unistd.h>

namespace {

calder::discovery::Entry MakeEntry(std::string label, std::string address, unsigned port,
                                   std::vector<unsigned> types) {
    calder::discovery::Entry e;
    e.label = std::move(label);
    e.address = std::move(address);
    e.port = port;
    e.instrumentTypes = std::move(types);
    e.pid = static_cast<long>(::getpid());
    return e;
}

std::vector<std::string> Texts(const TarnBrowseTree& tree) {
    std::vector<std::string> texts;
    for (int i = 0; i < tree.topLevelItemCount(); ++i)
        texts.push_back(tree.topLevelItem(i)->text(0).toStdString());
    return texts;
}

class BrowseTreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::EnsureApplication();
        ASSERT_FALSE(calder::discovery::Announce(MakeEntry("Bay 1", "127.0.0.1", 7301, {212})).empty());
        ASSERT_FALSE(calder::discovery::Announce(MakeEntry("Bay 2", "127.0.0.1", 7302, {5, 6})).empty());
        ASSERT_FALSE(calder::discovery::Announce(MakeEntry("Any", "::1", 7303, {})).empty());
    }
    testsupport::ScopedTestEnvironment env;
};

TEST_F(BrowseTreeTest, FiltersByInstrumentTypeOrShowsAll) {
    TarnBrowseTree tree;
    tree.Initialize(2, 212, L"", L"");
    // Entries without types take every instrument.
    EXPECT_EQ(Texts(tree), (std::vector<std::string>{"Any ([::1]:7303)", "Bay 1 (127.0.0.1:7301)"}));
    tree.RefreshAll();
    EXPECT_EQ(Texts(tree), (std::vector<std::string>{"Any ([::1]:7303)", "Bay 1 (127.0.0.1:7301)",
                                                     "Bay 2 (127.0.0.1:7302)"}));
    tree.RefreshFiltered();
    EXPECT_EQ(Texts(tree).size(), 2u);
}

TEST_F(BrowseTreeTest, StartsFromThePreviousChoiceAndReportsTheSelection) {
    struct Case {
        std::wstring address;
        std::wstring label;
        bool selected;
        unsigned port;
    };
    const std::vector<Case> cases = {
        {L"127.0.0.1", L"Bay 1", true, 7301},
        {L"::1", L"Any", true, 7303},
        {L"::1", L"renamed meanwhile", true, 7303}, // same address, label changed
        {L"10.0.0.9", L"Bay 1", false, 0},          // that host is gone
        {L"", L"", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(QString::fromStdWString(c.address + L" " + c.label).toStdString());
        TarnBrowseTree tree;
        tree.Initialize(2, 212, c.address, c.label);
        CString address = L"untouched";
        CString label = L"untouched";
        UINT port = 1;
        EXPECT_EQ(tree.GetResult(&address, &port, &label) != 0, c.selected);
        if (c.selected) {
            EXPECT_EQ(address, c.address);
            EXPECT_EQ(port, c.port);
        } else {
            EXPECT_EQ(address, L"untouched");
            EXPECT_EQ(port, 1u);
        }
    }
}

TEST_F(BrowseTreeTest, TheUsersPickSurvivesARefresh) {
    TarnBrowseTree tree;
    tree.Initialize(2, 212, L"", L"");
    QTreeWidgetItem* bay1 = tree.topLevelItem(1);
    ASSERT_NE(bay1, nullptr);
    tree.setCurrentItem(bay1);
    bay1->setSelected(true);
    tree.RefreshAll();
    CString address;
    CString label;
    UINT port = 0;
    ASSERT_NE(tree.GetResult(&address, &port, &label), 0);
    EXPECT_EQ(label, L"Bay 1");
    EXPECT_EQ(port, 7301u);
    EXPECT_EQ(address, L"127.0.0.1");
}

TEST_F(BrowseTreeTest, AnEmptyRegistryShowsANoteThatCannotBeChosen) {
    env.Set("TARN_RUNTIME_DIR", (env.root() / "empty").string());
    TarnBrowseTree tree;
    tree.Initialize(2, 212, L"127.0.0.1", L"Bay 1");
    ASSERT_EQ(tree.topLevelItemCount(), 1);
    QTreeWidgetItem* note = tree.topLevelItem(0);
    EXPECT_FALSE(note->flags() & Qt::ItemIsSelectable);
    tree.selectAll();
    tree.setCurrentItem(note);
    CString address;
    UINT port = 0;
    EXPECT_EQ(tree.GetResult(&address, &port, nullptr), 0);
}

TEST_F(BrowseTreeTest, ARunningHostSimulatorAppearsInTheTree) {
    tarnhostsim::Options options;
    options.label = "Simulated Tarn";
    options.types = {212};
    tarnhostsim::HostSimulator sim(options);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;

    TarnBrowseTree tree;
    tree.Initialize(2, 212, L"127.0.0.1", L"Simulated Tarn");
    CString address;
    CString label;
    UINT port = 0;
    ASSERT_NE(tree.GetResult(&address, &port, &label), 0);
    EXPECT_EQ(label, L"Simulated Tarn");
    EXPECT_EQ(port, sim.Port());

    // Not offered to an instrument of another type.
    TarnBrowseTree other;
    other.Initialize(2, 99, L"127.0.0.1", L"Simulated Tarn");
    for (const auto& text : Texts(other))
        EXPECT_EQ(text.find("Simulated Tarn"), std::string::npos);
    sim.Stop();
}

} // namespace
