#include <cstdlib>
#include <cstring>
#include <string>

#include "gui_support.h"

namespace {

void ExpectCall(const GuiCall& c, VXGUI_base& gui, int32_t opcode, int32_t index, int32_t value, const void* ptr,
                float opt) {
    EXPECT_EQ(c.record, gui.Record());
    EXPECT_NE(static_cast<void*>(c.record), static_cast<void*>(&gui));
    EXPECT_EQ(c.opcode, opcode);
    EXPECT_EQ(c.index, index);
    EXPECT_EQ(c.value, value);
    EXPECT_EQ(c.ptr, ptr);
    EXPECT_EQ(c.opt, opt);
}

}  // namespace

TEST_F(GuiTest, WrappersSendTheRecordAndTheirRow) {
    TestGui gui;
    g_answer = [](const GuiCall&) -> VXIntPtr { return 0x100; };  // no low byte set
    EXPECT_EQ(gui.CallHost(42, 1, 2, &g_marker, 0.5f), 0x100);
    EXPECT_EQ(gui.HostRequest8(3, 4, &g_marker), 0x100);
    EXPECT_EQ(gui.HostRequest18(&g_marker), 0x100);
    EXPECT_EQ(gui.HostRequest19(&g_marker), 0x100);
    EXPECT_TRUE(gui.HostQuery20(&g_marker));
    g_answer = nullptr;
    EXPECT_FALSE(gui.HostQuery20(&g_marker));

    ASSERT_EQ(g_calls.size(), 6u);
    ExpectCall(g_calls[0], gui, 42, 1, 2, &g_marker, 0.5f);
    ExpectCall(g_calls[1], gui, GHC_REQUEST_8, 3, 4, &g_marker, 0.0f);
    ExpectCall(g_calls[2], gui, GHC_REQUEST_18, 0, 0, &g_marker, 0.0f);
    ExpectCall(g_calls[3], gui, GHC_REQUEST_19, 0, 0, &g_marker, 0.0f);
    ExpectCall(g_calls[4], gui, GHC_QUERY_20, 0, 0, &g_marker, 0.0f);
}

TEST_F(GuiTest, OnePinHandleServesTheWholeLibrary) {
    TestGui a, b;
    VXGuiPin* first = a.GetGuiPin(3);
    VXGuiPin* second = b.GetGuiPin(5);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first->PinIndex(), 5);
    EXPECT_EQ(first->Gui(), &b);
    first->SetValueInt(1);
    ASSERT_EQ(g_calls.size(), 1u);
    ExpectCall(g_calls[0], b, GHC_WRITE_PIN_VALUE, 5, 1, nullptr, 0.0f);
}

TEST_F(GuiTest, PinValuesTravelAsOneWord) {
    TestGui gui;
    const VXGuiPin pin = *gui.GetGuiPin(4);
    g_answer = [](const GuiCall& c) -> VXIntPtr {
        if (c.opcode == GHC_READ_PIN_VALUE) *static_cast<int32_t*>(c.ptr) = 0x3F800000;
        return 0;
    };
    EXPECT_EQ(pin.GetValueInt(), 0x3F800000);
    EXPECT_EQ(pin.GetValueFloat(), 1.0f);
    for (const GuiCall& c : g_calls) ExpectCall(c, gui, GHC_READ_PIN_VALUE, 4, 0, c.ptr, 0.0f);

    g_answer = nullptr;  // a host that writes nothing
    EXPECT_EQ(pin.GetValueInt(), 0);
    EXPECT_EQ(pin.GetValueFloat(), 0.0f);

    g_calls.clear();
    pin.SetValueInt(-7);
    pin.SetValueFloat(2.5f);
    ASSERT_EQ(g_calls.size(), 2u);
    ExpectCall(g_calls[0], gui, GHC_WRITE_PIN_VALUE, 4, -7, nullptr, 0.0f);
    ExpectCall(g_calls[1], gui, GHC_WRITE_PIN_VALUE, 4, 0, nullptr, 2.5f);
}

TEST_F(GuiTest, PinTextsBothWays) {
    TestGui gui;
    const VXGuiPin pin = *gui.GetGuiPin(2);
    std::string seen;
    static const char kHostText[] = "world";
    g_answer = [&seen](const GuiCall& c) -> VXIntPtr {
        if (c.opcode == GHC_WRITE_PIN_TEXT) seen = static_cast<const char*>(c.ptr);
        return c.opcode == GHC_READ_PIN_TEXT ? reinterpret_cast<VXIntPtr>(kHostText) : 0;
    };
    pin.SetText("hello");
    EXPECT_EQ(seen, "hello");
    EXPECT_EQ(pin.GetText(), "world");
    ASSERT_EQ(g_calls.size(), 2u);
    ExpectCall(g_calls[0], gui, GHC_WRITE_PIN_TEXT, 2, 0, g_calls[0].ptr, 0.0f);
    ExpectCall(g_calls[1], gui, GHC_READ_PIN_TEXT, 2, 0, nullptr, 0.0f);

    g_answer = nullptr;  // no text at all
    EXPECT_EQ(pin.GetText(), "");
}

// The host answers a count n, then fills up to 2 x n bytes of the buffer it is
// given; whatever it answers, the read stays inside that buffer.
TEST_F(GuiTest, SizedTextReadStaysInsideTheBuffer) {
    struct Row {
        VXIntPtr count;
        const char* fill;  // what the host writes at the start of the buffer
        size_t fill_size;  // at most 2 x count
        const char* expected;
        size_t calls;
    };
    const Row rows[] = {
        {3, "abc", 4, "abc", 2},
        {2, "wxyz", 4, "wxyz", 2},  // no zero byte anywhere in the buffer
        {3, "ab\0cd", 5, "ab", 2},
        {2, "", 0, "", 2},  // the host writes nothing
        {0, "", 0, "", 1},
        {-1, "", 0, "", 1},
        {INTPTR_MIN, "", 0, "", 1},
#if INTPTR_MAX == INT32_MAX
        {INT32_MAX, "", 0, "", 1},  // 2 x n bytes do not fit this address space
#else
        {VXIntPtr{INT32_MAX} + 1, "", 0, "", 1},  // no longer a 32-bit value
        {INTPTR_MAX, "", 0, "", 1},
#endif
    };
    TestGui gui;
    const VXGuiPin pin = *gui.GetGuiPin(6);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.count);
        g_calls.clear();
        g_answer = [&row](const GuiCall& c) -> VXIntPtr {
            if (c.ptr == nullptr) return row.count;
            std::memcpy(c.ptr, row.fill, row.fill_size);
            return 0;
        };
        EXPECT_EQ(pin.GetTextSized(), row.expected);
        ASSERT_EQ(g_calls.size(), row.calls);
        ExpectCall(g_calls[0], gui, GHC_READ_PIN_TEXT_SIZED, 6, 0, nullptr, 0.0f);
        if (row.calls == 2)
            ExpectCall(g_calls[1], gui, GHC_READ_PIN_TEXT_SIZED, 6, static_cast<int32_t>(row.count), g_calls[1].ptr,
                       0.0f);
    }
}

// Without a callback every host call ends the process through the assertion
// facility, with the fixed text, path and line.
TEST_F(GuiTest, HostCallsWithoutCallbackAssert) {
    // Re-executing the program for each death test is the safe style, but a
    // user-mode emulator cannot re-execute a 32-bit program; there the test
    // launcher asks for the forking style through the environment.
    if (std::getenv("GTEST_DEATH_TEST_STYLE") == nullptr) GTEST_FLAG_SET(death_test_style, "threadsafe");
#if defined(_WIN32)
    const char* const kMessage = "Assertion failed: vxaudioMaster, file \\.\\./\\.\\./vx_sdk2/VXGUI_base, line 134";
#else
    const char* const kMessage = "\\.\\./\\.\\./vx_sdk2/VXGUI_base:134: .*Assertion `vxaudioMaster' failed";
#endif
    TestGui gui(nullptr);
    VXGuiPin* pin = gui.GetGuiPin(0);
    EXPECT_DEATH(gui.CallHost(1, 0, 0, nullptr, 0.0f), kMessage);
    EXPECT_DEATH(gui.HostRequest8(0, 0, nullptr), kMessage);
    EXPECT_DEATH(gui.HostRequest18(nullptr), kMessage);
    EXPECT_DEATH(gui.HostRequest19(nullptr), kMessage);
    EXPECT_DEATH(gui.HostQuery20(nullptr), kMessage);
    EXPECT_DEATH(pin->GetText(), kMessage);
}
