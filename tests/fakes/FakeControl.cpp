// The shared state of the fake archiver libraries: one journal and one script for the process,
// whichever fake library file is called.
#include "FakeControl.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#ifndef QUORVEL_FAKES_DIR
#error "QUORVEL_FAKES_DIR must name the build folder of the fake libraries"
#endif

namespace fake {

namespace {

struct Cursor {
    size_t next = 0;
    std::optional<size_t> current;
};

struct State {
    std::mutex mutex;
    std::vector<Call> calls;
    // key: library + '\n' + entry, or '\n' + entry for every library
    std::map<std::string, int64_t> results;
    std::map<std::string, std::string> outputs; // entry ("" for all) -> text
    std::vector<Item> items;
    std::vector<Progress> progress;
    std::vector<int64_t> answers;
    std::string memory;
    std::string password;
    std::map<uintptr_t, Cursor> cursors;
    uintptr_t nextHandle = 0x1000;
    std::map<std::string, HWND> owners; // library -> window
    std::map<std::pair<std::string, std::string>, int> attached, detached;
};

// Never destroyed: fake libraries the process still holds at exit report their unloading from
// their own destructors, which may run after this file's statics would have been torn down.
State &S() {
    static State *state = new State;
    return *state;
}

std::optional<int64_t> ScriptedResult(State &s, const detail::Origin &o, const char *entry) {
    if (auto it = s.results.find(std::string(o.library) + '\n' + entry); it != s.results.end())
        return it->second;
    if (auto it = s.results.find(std::string("\n") + entry); it != s.results.end())
        return it->second;
    return std::nullopt;
}

Call &Record(State &s, const detail::Origin &o, const char *entry) {
    Call c;
    c.library = o.library;
    c.variant = o.variant;
    c.entry = entry;
    s.calls.push_back(std::move(c));
    return s.calls.back();
}

void CopyText(char *dst, size_t capacity, const std::string &text) {
    if (!dst || capacity == 0)
        return;
    size_t n = std::min(text.size(), capacity - 1);
    std::memcpy(dst, text.data(), n);
    dst[n] = '\0';
}

// Sends the scripted progress to the library's owner window without holding the lock, since the
// window's procedure may call back into a fake. True when the window asked to stop.
bool SendProgress(const detail::Origin &o) {
    std::vector<Progress> steps;
    HWND owner = nullptr;
    {
        State &s = S();
        std::lock_guard lock(s.mutex);
        steps = s.progress;
        if (auto it = s.owners.find(o.library); it != s.owners.end())
            owner = it->second;
    }
    if (!owner)
        return false;
    UINT msg = ArcRegisterWindowMessage(ARC_WM_ARCEXTRACT_NAME);
    for (const auto &step : steps) {
        EXTRACTINGINFOEX info;
        std::memset(&info, 0, sizeof info);
        info.dwFileSize = step.fileSize;
        info.dwWriteSize = step.writeSize;
        CopyText(info.szSourceFileName, sizeof info.szSourceFileName, step.source);
        CopyText(info.szDestFileName, sizeof info.szDestFileName, step.dest);
        LRESULT answer = ArcSendMessage(owner, msg, static_cast<WPARAM>(step.state),
                                        reinterpret_cast<LPARAM>(&info));
        {
            State &s = S();
            std::lock_guard lock(s.mutex);
            s.answers.push_back(answer);
        }
        if (answer != 0)
            return true;
    }
    return false;
}

void FillInfo(const Item &item, INDIVIDUALINFO *info) {
    std::memset(info, 0, sizeof *info);
    info->dwOriginalSize = item.originalSize;
    info->dwCompressedSize = item.compressedSize;
    info->dwCRC = item.crc;
    info->uFlag = item.flag;
    info->uOSType = item.osType;
    info->wRatio = item.ratio;
    info->wDate = item.date;
    info->wTime = item.time;
    CopyText(info->szFileName, sizeof info->szFileName, item.name);
    CopyText(info->szAttribute, sizeof info->szAttribute, item.attribute);
    CopyText(info->szMode, sizeof info->szMode, item.method);
}

int Find(const detail::Origin &o, const char *entry, HARC arc, const char *wild,
         INDIVIDUALINFO *info, bool first) {
    State &s = S();
    std::lock_guard lock(s.mutex);
    Call &c = Record(s, o, entry);
    c.arc = arc;
    if (wild)
        c.text = wild;
    auto scripted = ScriptedResult(s, o, entry);
    int64_t result = -1;
    if (scripted && *scripted != 0) {
        result = *scripted;
    } else if (auto it = s.cursors.find(reinterpret_cast<uintptr_t>(arc)); it != s.cursors.end()) {
        Cursor &cur = it->second;
        if (first)
            cur.next = 0;
        if (cur.next < s.items.size()) {
            if (info)
                FillInfo(s.items[cur.next], info);
            cur.current = cur.next++;
            result = 0;
        } else {
            cur.current.reset();
        }
    }
    c.result = result;
    return static_cast<int>(result);
}

const Item *CurrentItem(State &s, HARC arc) {
    auto it = s.cursors.find(reinterpret_cast<uintptr_t>(arc));
    if (it == s.cursors.end() || !it->second.current || *it->second.current >= s.items.size())
        return nullptr;
    return &s.items[*it->second.current];
}

int Count(const std::map<std::pair<std::string, std::string>, int> &m, const std::string &library,
          const std::string &variant) {
    int n = 0;
    for (const auto &[key, count] : m)
        if (key.first == library && (variant.empty() || key.second == variant))
            n += count;
    return n;
}

} // namespace

void Reset() {
    State &s = S();
    std::lock_guard lock(s.mutex);
    s.calls.clear();
    s.results.clear();
    s.outputs.clear();
    s.items.clear();
    s.progress.clear();
    s.answers.clear();
    s.memory.clear();
    s.password.clear();
    s.cursors.clear();
    s.owners.clear();
}

void SetResult(const std::string &entry, int64_t result, const std::string &library) {
    State &s = S();
    std::lock_guard lock(s.mutex);
    s.results[library + '\n' + entry] = result;
}

void SetOutput(const std::string &text, const std::string &entry) {
    State &s = S();
    std::lock_guard lock(s.mutex);
    s.outputs[entry] = text;
}

void SetItems(std::vector<Item> items) {
    State &s = S();
    std::lock_guard lock(s.mutex);
    s.items = std::move(items);
}

void SetProgress(std::vector<Progress> steps) {
    State &s = S();
    std::lock_guard lock(s.mutex);
    s.progress = std::move(steps);
}

void SetMemory(std::string bytes) {
    State &s = S();
    std::lock_guard lock(s.mutex);
    s.memory = std::move(bytes);
}

void SetPassword(std::string password) {
    State &s = S();
    std::lock_guard lock(s.mutex);
    s.password = std::move(password);
}

std::vector<Call> Calls() {
    State &s = S();
    std::lock_guard lock(s.mutex);
    return s.calls;
}

std::vector<Call> CallsTo(const std::string &entry) {
    State &s = S();
    std::lock_guard lock(s.mutex);
    std::vector<Call> out;
    for (const auto &c : s.calls)
        if (c.entry == entry)
            out.push_back(c);
    return out;
}

std::vector<int64_t> ProgressAnswers() {
    State &s = S();
    std::lock_guard lock(s.mutex);
    return s.answers;
}

HWND OwnerWindow(const std::string &library) {
    State &s = S();
    std::lock_guard lock(s.mutex);
    auto it = s.owners.find(library);
    return it == s.owners.end() ? nullptr : it->second;
}

int Attachments(const std::string &library, const std::string &variant) {
    State &s = S();
    std::lock_guard lock(s.mutex);
    return Count(s.attached, library, variant);
}

int Detachments(const std::string &library, const std::string &variant) {
    State &s = S();
    std::lock_guard lock(s.mutex);
    return Count(s.detached, library, variant);
}

std::string Folder(const std::string &variant) {
    return std::string(QUORVEL_FAKES_DIR) + "/" + variant;
}

namespace detail {

int Command(const Origin &o, const char *entry, HWND wnd, const char *cmd, char *out, DWORD size) {
    size_t index;
    {
        State &s = S();
        std::lock_guard lock(s.mutex);
        Call &c = Record(s, o, entry);
        c.wnd = wnd;
        c.text = cmd ? cmd : "";
        c.size = size;
        c.buffer = out != nullptr;
        index = s.calls.size() - 1;
    }
    bool aborted = SendProgress(o);
    State &s = S();
    std::lock_guard lock(s.mutex);
    auto text = s.outputs.find(entry);
    if (text == s.outputs.end())
        text = s.outputs.find("");
    if (text != s.outputs.end())
        CopyText(out, size, text->second);
    int64_t result =
        aborted ? int64_t{ARC_ERROR_USER_CANCEL} : ScriptedResult(s, o, entry).value_or(0);
    if (index < s.calls.size()) // the window may have reset the journal meanwhile
        s.calls[index].result = result;
    return static_cast<int>(result);
}

HARC OpenArchive(const Origin &o, const char *entry, HWND wnd, const char *archive, DWORD mode) {
    State &s = S();
    std::lock_guard lock(s.mutex);
    Call &c = Record(s, o, entry);
    c.wnd = wnd;
    c.text = archive ? archive : "";
    c.mode = mode;
    auto scripted = ScriptedResult(s, o, entry);
    if (scripted && *scripted == 0)
        return nullptr;
    uintptr_t id = s.nextHandle++;
    s.cursors[id] = Cursor{};
    c.arc = reinterpret_cast<HARC>(id);
    c.result = static_cast<int64_t>(id);
    return c.arc;
}

int CloseArchive(const Origin &o, const char *entry, HARC arc) {
    State &s = S();
    std::lock_guard lock(s.mutex);
    Call &c = Record(s, o, entry);
    c.arc = arc;
    s.cursors.erase(reinterpret_cast<uintptr_t>(arc));
    c.result = ScriptedResult(s, o, entry).value_or(0);
    return static_cast<int>(c.result);
}

int FindFirst(const Origin &o, const char *entry, HARC arc, const char *wild,
              INDIVIDUALINFO *info) {
    return Find(o, entry, arc, wild, info, true);
}

int FindNext(const Origin &o, const char *entry, HARC arc, INDIVIDUALINFO *info) {
    return Find(o, entry, arc, nullptr, info, false);
}

BOOL CheckArchive(const Origin &o, const char *entry, const char *archive, int mode) {
    State &s = S();
    std::lock_guard lock(s.mutex);
    Call &c = Record(s, o, entry);
    c.text = archive ? archive : "";
    c.mode = mode;
    c.result = ScriptedResult(s, o, entry).value_or(1);
    return static_cast<BOOL>(c.result);
}

BOOL SetOwnerWindowEx(const Origin &o, const char *entry, HWND wnd, void *callback) {
    State &s = S();
    std::lock_guard lock(s.mutex);
    Call &c = Record(s, o, entry);
    c.wnd = wnd;
    c.callback = callback;
    c.result = ScriptedResult(s, o, entry).value_or(1);
    if (c.result != 0)
        s.owners[o.library] = wnd;
    return static_cast<BOOL>(c.result);
}

BOOL KillOwnerWindowEx(const Origin &o, const char *entry, HWND wnd) {
    State &s = S();
    std::lock_guard lock(s.mutex);
    Call &c = Record(s, o, entry);
    c.wnd = wnd;
    s.owners.erase(o.library);
    c.result = ScriptedResult(s, o, entry).value_or(1);
    return static_cast<BOOL>(c.result);
}

int ExtractMem(const Origin &o, const char *entry, HWND wnd, const char *cmd, unsigned char *buffer,
               DWORD size, void *time, WORD *attr, DWORD *written) {
    size_t index;
    {
        State &s = S();
        std::lock_guard lock(s.mutex);
        Call &c = Record(s, o, entry);
        c.wnd = wnd;
        c.text = cmd ? cmd : "";
        c.size = size;
        c.buffer = buffer != nullptr;
        c.timePtr = time != nullptr;
        c.attrPtr = attr != nullptr;
        c.writtenPtr = written != nullptr;
        index = s.calls.size() - 1;
    }
    bool aborted = SendProgress(o);
    State &s = S();
    std::lock_guard lock(s.mutex);
    size_t n = buffer ? std::min<size_t>(size, s.memory.size()) : 0;
    if (n)
        std::memcpy(buffer, s.memory.data(), n);
    if (written)
        *written = static_cast<DWORD>(n);
    int64_t result =
        aborted ? int64_t{ARC_ERROR_USER_CANCEL} : ScriptedResult(s, o, entry).value_or(0);
    if (index < s.calls.size()) // the window may have reset the journal meanwhile
        s.calls[index].result = result;
    return static_cast<int>(result);
}

BOOL GetTime(const Origin &o, const char *entry, HARC arc, ARC_FILETIME *time, TimeKind kind) {
    State &s = S();
    std::lock_guard lock(s.mutex);
    Call &c = Record(s, o, entry);
    c.arc = arc;
    const Item *item = CurrentItem(s, arc);
    std::optional<ARC_FILETIME> value;
    if (item)
        value = kind == TimeKind::Write    ? item->writeTime
                : kind == TimeKind::Create ? item->createTime
                                           : item->accessTime;
    if (value && time)
        *time = *value;
    c.result = ScriptedResult(s, o, entry).value_or(value ? 1 : 0);
    return static_cast<BOOL>(c.result);
}

BOOL GetSize(const Origin &o, const char *entry, HARC arc, int64_t *size, SizeKind kind) {
    State &s = S();
    std::lock_guard lock(s.mutex);
    Call &c = Record(s, o, entry);
    c.arc = arc;
    const Item *item = CurrentItem(s, arc);
    std::optional<int64_t> value;
    if (item)
        value = kind == SizeKind::Original ? item->originalSize64 : item->compressedSize64;
    if (value && size)
        *size = *value;
    c.result = ScriptedResult(s, o, entry).value_or(value ? 1 : 0);
    return static_cast<BOOL>(c.result);
}

int GetArchiveType(const Origin &o, const char *entry, const char *archive) {
    State &s = S();
    std::lock_guard lock(s.mutex);
    Call &c = Record(s, o, entry);
    c.text = archive ? archive : "";
    c.result = ScriptedResult(s, o, entry).value_or(0);
    return static_cast<int>(c.result);
}

int SetDefaultPassword(const Origin &o, const char *entry, HARC arc, const char *password) {
    State &s = S();
    std::lock_guard lock(s.mutex);
    Call &c = Record(s, o, entry);
    c.arc = arc;
    c.text = password ? password : "";
    c.result = ScriptedResult(s, o, entry).value_or(0);
    return static_cast<int>(c.result);
}

int PasswordDialog(const Origin &o, const char *entry, HWND wnd, char *buffer, DWORD size) {
    State &s = S();
    std::lock_guard lock(s.mutex);
    Call &c = Record(s, o, entry);
    c.wnd = wnd;
    c.size = size;
    c.buffer = buffer != nullptr;
    CopyText(buffer, size, s.password);
    c.text = s.password;
    c.result = ScriptedResult(s, o, entry).value_or(0);
    return static_cast<int>(c.result);
}

void Attach(const Origin &o) {
    State &s = S();
    std::lock_guard lock(s.mutex);
    ++s.attached[{o.library, o.variant}];
}

void Detach(const Origin &o) {
    State &s = S();
    std::lock_guard lock(s.mutex);
    ++s.detached[{o.library, o.variant}];
}

} // namespace detail

} // namespace fake
