// The child-process helpers every other test relies on.
#include "tests/support/child.h"

#include <gtest/gtest.h>

namespace
{

// A child that leaves a grandchild holding its pipes still ends the wait at its deadline, and no
// child inherits a descriptor of the parent's.
TEST(ChildProcess, WaitsEndAtTheirDeadline)
{
    double t0 = now_ms();
    Outcome o = run_program({"sh", "-c", "sleep 8 & exit 3"}, "/", {}, 1000);
    EXPECT_EQ(o.status, 3);
    EXPECT_LT(now_ms() - t0, 5000.0);

    o = run_program({"ls", "/proc/self/fd"}, "/");
    EXPECT_EQ(o.out, "0\n1\n2\n3\n") << "only the standard three and ls's own";
    o = run_child("/", [] { std::printf("out"); });
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, "out");
}

} // namespace
