#include "archiver_api.h"

#include <gtest/gtest.h>

extern "C" size_t api_c_individualinfo_size(void);
extern "C" size_t api_c_extractinginfo_size(void);
extern "C" UINT api_c_message(const char *name);

TEST(ArchiverApi, RecordsHaveTheSameLayoutInC) {
    EXPECT_EQ(api_c_individualinfo_size(), 558u);
    EXPECT_EQ(api_c_extractinginfo_size(), 1074u);
}

TEST(ArchiverApi, RegisteredMessageDependsOnlyOnTheNameWithoutCase) {
    UINT m = ArcRegisterWindowMessage(ARC_WM_ARCEXTRACT_NAME);
    EXPECT_EQ(m, api_c_message("wm_arcextract"));
    EXPECT_EQ(m, ArcRegisterWindowMessage("WM_ArcExtract"));
    EXPECT_NE(m, ArcRegisterWindowMessage("wm_arcextracu"));
    EXPECT_GE(m, 0xC000u);
    EXPECT_LE(m, 0xFFFFu);
}

namespace {
struct RecordingWindow {
    ArcWindow base{&Proc};
    UINT lastMsg = 0;
    WPARAM lastW = 0;
    static LRESULT Proc(HWND h, UINT msg, WPARAM w, LPARAM) {
        auto *self = reinterpret_cast<RecordingWindow *>(h);
        self->lastMsg = msg;
        self->lastW = w;
        return 1;
    }
};
} // namespace

TEST(ArchiverApi, SendMessageCallsTheWindowProcedure) {
    RecordingWindow w;
    EXPECT_EQ(ArcSendMessage(&w, 0xC123, 2, 0), 1);
    EXPECT_EQ(w.lastMsg, 0xC123u);
    EXPECT_EQ(w.lastW, 2u);
    EXPECT_EQ(ArcSendMessage(nullptr, 0xC123, 2, 0), 0);
}
