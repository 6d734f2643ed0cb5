#include "test_support.h"

TEST_F(ProbeTest, OpensAndProcessesThroughTheRecord) {
    OpenWithLayout(LAYOUT_BASIC);
    host.Fill(0, 2.0f);
    host.Process(0, 16);
    EXPECT_EQ(host.Buffer(1)[15], 3.0f);
}
