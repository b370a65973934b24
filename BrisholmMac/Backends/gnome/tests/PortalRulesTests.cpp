// The portal route's rules with plain values: answers, streams placed on monitors, when Mutter
// is given up, and the restore token's life in a credential store of the test's own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Backends/gnome/PortalRules.hpp"
#include "Platform/FakeCredentialStore.hpp"

namespace vantrel::gnome {
namespace {

TEST(PortalRules, ResponseCodesSayWhetherTheUserApproved) {
    EXPECT_EQ(portalAnswer(0U), PortalAnswer::granted);
    EXPECT_EQ(portalAnswer(1U), PortalAnswer::refused);
    EXPECT_EQ(portalAnswer(2U), PortalAnswer::failed);
    EXPECT_EQ(portalAnswer(7U), PortalAnswer::failed);
    EXPECT_EQ(portalAnswer(std::nullopt), PortalAnswer::unanswered);
}

GVariant* parsed(const char* text) {
    return g_variant_ref_sink(g_variant_parse(G_VARIANT_TYPE("a(ua{sv})"), text, nullptr, nullptr, nullptr));
}

MonitorFacts monitor(const std::string& connector, Rect bounds) {
    MonitorFacts facts;
    facts.outputName = connector;
    facts.bounds = bounds;
    return facts;
}

TEST(PortalRules, StreamsAreReadWithTheirPlaceAndMatchedToTheMonitorThere) {
    GVariant* reply = parsed(
        "[(uint32 41, {'position': <(1280, 0)>, 'size': <(800, 600)>, 'source_type': <uint32 1>}),"
        " (40, {'position': <(0, 0)>, 'size': <(1280, 720)>})]");
    const auto streams = streamsFromResults(reply);
    g_variant_unref(reply);
    ASSERT_EQ(streams.size(), 2U);
    EXPECT_EQ(streams[0], (PortalStream{41, Rect{1280, 0, 800, 600}}));

    const auto shown =
        streamsByConnector(streams, {monitor("Meta-0", {0, 0, 1280, 720}), monitor("Meta-1", {1280, 0, 800, 600}),
                                     monitor("Meta-2", {0, 720, 640, 480})});
    ASSERT_EQ(shown.size(), 2U) << "the monitor no stream shows is left out";
    EXPECT_EQ(shown.at("Meta-0").node, 40U);
    EXPECT_EQ(shown.at("Meta-1").node, 41U);
}

TEST(PortalRules, AStreamWithoutPlaceShowsOnlyALoneMonitor) {
    GVariant* reply = parsed("[(uint32 7, @a{sv} {})]");
    const auto streams = streamsFromResults(reply);
    g_variant_unref(reply);
    ASSERT_EQ(streams.size(), 1U);
    EXPECT_FALSE(streams[0].area);
    EXPECT_EQ(streamsByConnector(streams, {monitor("Meta-0", {0, 0, 1280, 720})}).at("Meta-0").node, 7U);
    EXPECT_TRUE(
        streamsByConnector(streams, {monitor("Meta-0", {0, 0, 1280, 720}), monitor("Meta-1", {1280, 0, 800, 600})})
            .empty());

    GVariant* wrong = g_variant_ref_sink(g_variant_new_string("streams"));
    EXPECT_TRUE(streamsFromResults(wrong).empty());
    g_variant_unref(wrong);
}

TEST(PortalRules, OnlyAMissingOrRefusingMutterSendsTheHostToThePortal) {
    EXPECT_TRUE(
        mutterRefuses("org.gnome.Mutter.RemoteDesktop.CreateSession: GDBus.Error:"
                      "org.freedesktop.DBus.Error.AccessDenied: Permission denied"));
    EXPECT_TRUE(
        mutterRefuses("org.gnome.Mutter.RemoteDesktop.CreateSession: GDBus.Error:"
                      "org.freedesktop.DBus.Error.ServiceUnknown: The name is not activatable"));
    EXPECT_FALSE(mutterRefuses("org.gnome.Mutter.RemoteDesktop.Start: Timeout was reached"));
    EXPECT_FALSE(mutterRefuses("the compositor lists no monitor to record"));
}

// A portal that grants with a fresh token each time, remembering which token each start showed.
struct FakePortal {
    std::vector<std::optional<std::string>> shown;
    std::vector<PortalAnswer> answers;  // per start; granted once they run out
    int issued = 0;

    PortalStart operator()(const std::optional<std::string>& token) {
        shown.push_back(token);
        const auto answer = shown.size() <= answers.size() ? answers[shown.size() - 1] : PortalAnswer::granted;
        if (answer != PortalAnswer::granted) {
            return {answer, std::nullopt};
        }
        return {answer, "token-" + std::to_string(++issued)};
    }
};

std::string storedToken(testing::FakeCredentialStore& store) {
    return store.items.empty() ? "" : std::string(store.items.front().begin(), store.items.front().end());
}

// A start through startRemembering, with a store and a portal of the test's own.
class RememberedStart : public ::testing::Test {
protected:
    PortalAnswer start() {
        return startRemembering(tokens, [this](const std::optional<std::string>& token) { return portal(token); })
            .answer;
    }

    std::shared_ptr<testing::FakeCredentialStore> store = std::make_shared<testing::FakeCredentialStore>();
    RestoreTokens tokens{store};
    FakePortal portal;
};

TEST_F(RememberedStart, EachStartShowsTheLastTokenAndKeepsTheNewOne) {
    EXPECT_EQ(start(), PortalAnswer::granted);
    EXPECT_EQ(storedToken(*store), "token-1");
    EXPECT_EQ(start(), PortalAnswer::granted);
    EXPECT_EQ(storedToken(*store), "token-2") << "a token is good for one start";
    EXPECT_EQ(portal.shown, (std::vector<std::optional<std::string>>{std::nullopt, "token-1"}));
}

TEST_F(RememberedStart, ATokenThePortalRejectsIsDroppedAndTheDialogAsked) {
    store->items = {Bytes{'o', 'l', 'd'}};
    portal.answers = {PortalAnswer::failed};
    EXPECT_EQ(start(), PortalAnswer::granted);
    EXPECT_EQ(portal.shown, (std::vector<std::optional<std::string>>{"old", std::nullopt}));
    EXPECT_EQ(storedToken(*store), "token-1");
}

TEST_F(RememberedStart, ARefusedDialogLeavesNoTokenAndALockedKeyringAsksEachTime) {
    store->items = {Bytes{'o', 'l', 'd'}};
    portal.answers = {PortalAnswer::refused};
    EXPECT_EQ(start(), PortalAnswer::refused);
    EXPECT_EQ(portal.shown.size(), 1U) << "the user's no is not asked again at once";
    EXPECT_EQ(storedToken(*store), "");

    store->state = CredentialStatus::locked;
    EXPECT_EQ(start(), PortalAnswer::granted);
    EXPECT_EQ(portal.shown.back(), std::nullopt);
    EXPECT_EQ(store->replacements, 1) << "a locked keyring keeps nothing and is not written";
}

}  // namespace
}  // namespace vantrel::gnome
