// The budget of a card-reader library call.
#include "cardreader/reader_calls.h"

#include <gtest/gtest.h>

#include <climits>

namespace quillon {
namespace {

TEST(ReaderCalls, ABudgetIsTheCallsOwnTimeOutAndAMarginWithoutOverflow) {
    const int rows[][2] = {
        {2000, 7000}, {0, 5000}, {-1, 5000}, {INT_MAX - 5000, INT_MAX}, {INT_MAX, INT_MAX}};
    for (const auto& row : rows) EXPECT_EQ(BudgetWithTimeout(row[0]), row[1]) << row[0];
}

}  // namespace
}  // namespace quillon
