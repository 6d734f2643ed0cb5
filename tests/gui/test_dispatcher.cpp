#include <cstring>

#include "gui_support.h"

// host_data carries a whole address on every target, as the module record's does.
TEST_F(GuiTest, RecordNamesTheObjectAndItsEntry) {
    const auto host_data = reinterpret_cast<intptr_t>(&g_marker);
    TestGui gui(&RecordingCallback, host_data);
    const VXGuiRecord* r = gui.Record();
    const unsigned char magic_bytes[4] = {0x4D, 0x50, 0x58, 0x56};
    EXPECT_EQ(std::memcmp(&r->magic, magic_bytes, 4), 0);
    EXPECT_EQ(r->version, 1);
    EXPECT_EQ(r->dispatcher, &VXGUI_base::DispatcherEntry);
    EXPECT_EQ(r->host_data, host_data);
    EXPECT_EQ(r->object, static_cast<VXGUI_base*>(&gui));
    for (int32_t word : r->reserved) EXPECT_EQ(word, 0);
    EXPECT_TRUE(g_calls.empty());
}

// Each opcode reaches its handler with its arguments in the handler's order.
TEST_F(GuiTest, EveryOpcodeReachesItsHandler) {
    struct Row {
        int32_t opcode, index;
        const char* logged;  // nullptr: no handler runs
        VXIntPtr answer;
    };
    const Row rows[] = {
        {0, 1, "Open(1)", 0},         {0, 0, "Open(0)", 0},         {0, 2, "Open(0)", 0},
        {2, 5, "Op2(5,P)", 0},        {3, 5, "Op3(P,0.25,5,7)", 0}, {4, 5, "Op4(P,0.25,5,7)", 0},
        {5, 5, "Op5(P,0.25,5,7)", 0}, {6, 5, "Op6(7,5,P)", 0},      {7, 5, "Pin(5,self)", 0},
        {8, 5, "Op8(P)", 0},          {9, 5, "Op9(P)", 0},          {10, 5, "Op10", 1},
        {11, 5, "Op11(5)", 0},        {12, 5, "Op12(5)", 0},        {13, 5, nullptr, 0},
        {100, 5, nullptr, 0},         {-1, 5, nullptr, 0},          {INT32_MIN, 5, nullptr, 0},
    };
    TestGui gui;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.opcode);
        g_log.clear();
        EXPECT_EQ(Dispatch(gui, row.opcode, row.index, 7, 0.25f), row.answer);
        if (row.logged != nullptr) {
            EXPECT_EQ(g_log, std::vector<std::string>{row.logged});
        } else {
            EXPECT_TRUE(g_log.empty());
        }
    }
    EXPECT_TRUE(g_calls.empty());
}

TEST_F(GuiTest, DefaultHandlersAnswerZero) {
    VXGUI_base gui(&RecordingCallback, 0);
    for (int32_t opcode = 0; opcode <= 13; ++opcode) {
        if (opcode == GOP_CLOSE) continue;
        EXPECT_EQ(Dispatch(gui, opcode, 1, 1, 1.0f), 0) << opcode;
    }
    EXPECT_TRUE(g_calls.empty());
}

TEST_F(GuiTest, CloseRunsBeforeTheObjectIsFreed) {
    auto* gui = new TestGui;
    ASSERT_EQ(g_live_guis, 1);
    EXPECT_EQ(Dispatch(*gui, GOP_CLOSE), 1);
    EXPECT_EQ(g_log, (std::vector<std::string>{"Close", "~TestGui"}));
    EXPECT_EQ(g_live_guis, 0);
}
