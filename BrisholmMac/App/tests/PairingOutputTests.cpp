#include "App/PairingOutput.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace vantrel {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::SizeIs;

const std::string link = "vantrel://pair?v=1&name=W&port=47823&hosts=192.168.1.20&key=AAAA";
const std::string newLink = "vantrel://pair?v=1&name=W&port=47823&hosts=192.168.1.20&key=BBBB";

// Started at log-in, standard output is the journal: the key never goes there, and one line says
// where the code is instead, however often the link changes.
TEST(PairingOutputTest, WithoutATerminalOrTheFlagTheKeyStaysOut) {
    PairingOutput output(false, false);
    EXPECT_THAT(output.linesFor(std::nullopt), IsEmpty());
    EXPECT_THAT(output.linesFor(link), ElementsAre(PairingOutput::withheld));
    EXPECT_THAT(output.linesFor(newLink), IsEmpty());
    EXPECT_EQ(std::string(PairingOutput::withheld).find("key="), std::string::npos);
}

// Asked for (--print-link): each new link once, without a code drawn for nobody; in a terminal
// the code is drawn below it.
TEST(PairingOutputTest, AskedForOrReadInATerminalEachNewLinkIsPrinted) {
    PairingOutput asked(true, false);
    EXPECT_THAT(asked.linesFor(link), ElementsAre("pairing: " + link));
    EXPECT_THAT(asked.linesFor(link), IsEmpty());
    EXPECT_THAT(asked.linesFor(newLink), ElementsAre("pairing: " + newLink));

    PairingOutput terminal(true, true);
    const auto lines = terminal.linesFor(link);
    ASSERT_THAT(lines, SizeIs(2));
    EXPECT_EQ(lines[0], "pairing: " + link);
    EXPECT_NE(lines[1].find("\u2580"), std::string::npos) << "the code, drawn in half blocks";
}

}  // namespace
}  // namespace vantrel
