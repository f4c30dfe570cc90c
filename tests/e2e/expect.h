// Assertions shared by the scenarios.
#ifndef VELMORA_TESTS_E2E_EXPECT_H
#define VELMORA_TESTS_E2E_EXPECT_H

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "harness.h"

namespace e2e {

// Every run: exit code 0, nothing on standard output, standard error made
// of message blocks only, and exactly the expected messages in order.
inline void ExpectMessages(const RunResult& result,
                           const std::vector<Message>& expected) {
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, "");
  ASSERT_TRUE(result.err_well_formed) << "standard error:\n" << result.err;
  ASSERT_EQ(result.messages.size(), expected.size()) << "standard error:\n"
                                                     << result.err;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(result.messages[i].caption, expected[i].caption)
        << "message " << i;
    EXPECT_TRUE(TextMatches(expected[i].text, result.messages[i].text))
        << "message " << i << "\nexpected: " << expected[i].text
        << "\nactual:   " << result.messages[i].text;
  }
}

constexpr char kUpdateCaption[] = "Velmora4 Update";
constexpr char kSummaryHeader[] = "The following files were updated:\n\n";

// The summary message listing lines (each already ending in a line break).
inline Message Summary(const std::string& lines) {
  return {kUpdateCaption, kSummaryHeader + lines};
}

}  // namespace e2e

#endif  // VELMORA_TESTS_E2E_EXPECT_H
