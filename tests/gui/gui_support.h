// A GUI object that logs every handler call, and a GUI callback that records
// every host call and answers what the test asks for.
#ifndef VX_TESTS_GUI_SUPPORT_H
#define VX_TESTS_GUI_SUPPORT_H

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "VXGUI_base.h"

struct GuiCall {
    VXGuiRecord* record;
    int32_t opcode;
    int32_t index;
    int32_t value;
    void* ptr;
    float opt;
};

inline std::vector<GuiCall> g_calls;
// May write through call.ptr like a host does; answers 0 by default.
inline std::function<VXIntPtr(const GuiCall&)> g_answer;
// Outlives the objects, so a deletion can be seen in it.
inline std::vector<std::string> g_log;
inline int g_live_guis = 0;
inline char g_marker;  // the ptr argument the tests hand through

inline VXIntPtr VX_CDECL RecordingCallback(VXGuiRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                           float opt) {
    g_calls.push_back({record, opcode, index, value, ptr, opt});
    return g_answer ? g_answer(g_calls.back()) : 0;
}

class TestGui : public VXGUI_base {
public:
    explicit TestGui(vxguiMasterCallback callback = &RecordingCallback, intptr_t host_data = 0)
        : VXGUI_base(callback, host_data) {
        ++g_live_guis;
    }
    ~TestGui() override {
        Log("~TestGui");
        --g_live_guis;
    }

    void Open(bool b) override { Log("Open", b); }
    void Close() override { Log("Close"); }
    void OnGuiOpcode2(int32_t index, void* ptr) override { Log("Op2", index, Ptr(ptr)); }
    void OnGuiOpcode3(void* ptr, float opt, VXGuiPair* p) override { LogPair("Op3", ptr, opt, p); }
    void OnGuiOpcode4(void* ptr, float opt, VXGuiPair* p) override { LogPair("Op4", ptr, opt, p); }
    void OnGuiOpcode5(void* ptr, float opt, VXGuiPair* p) override { LogPair("Op5", ptr, opt, p); }
    void OnGuiOpcode8(void* ptr) override { Log("Op8", Ptr(ptr)); }
    void OnGuiOpcode9(void* ptr) override { Log("Op9", Ptr(ptr)); }
    bool OnGuiOpcode10() override {
        Log("Op10");
        return true;
    }
    void OnGuiOpcode11(int32_t index) override { Log("Op11", index); }
    void OnGuiOpcode12(int32_t index) override { Log("Op12", index); }
    void OnGuiOpcode6(int32_t value, int32_t index, void* ptr) override { Log("Op6", value, index, Ptr(ptr)); }
    void OnGuiPinUpdate(VXGuiPin* pin) override {
        GetGuiPin(99);  // must not disturb the handle of this call
        Log("Pin", pin->PinIndex(), pin->Gui() == this ? "self" : "other");
    }

private:
    static const char* Ptr(void* p) { return p == &g_marker ? "P" : "?"; }
    template <class... A>
    static void Log(const char* name, const A&... args) {
        std::ostringstream s;
        s << name;
        const char* sep = "(";
        ((s << sep << args, sep = ","), ...);
        (void)sep;
        if (sizeof...(args) > 0) s << ")";
        g_log.push_back(s.str());
    }
    static void LogPair(const char* name, void* ptr, float opt, VXGuiPair* p) {
        Log(name, Ptr(ptr), opt, p->index, p->value);
    }
};

class GuiTest : public ::testing::Test {
protected:
    GuiTest() {
        g_calls.clear();
        g_answer = nullptr;
        g_log.clear();
    }
    VXIntPtr Dispatch(VXGUI_base& gui, int32_t opcode, int32_t index = 0, int32_t value = 0, float opt = 0.0f) {
        VXGuiRecord* r = gui.Record();
        return r->dispatcher(r, opcode, index, value, &g_marker, opt);
    }
};

#endif
