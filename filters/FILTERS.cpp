#include "filters/FILTERS.h"

#include "archives/Classes.h"
#include "platform/FileTime.h"

#include <cstring>
#include <optional>

namespace filters {

using archives::EConvertError;
using archives::TArchiverOptions;
using archives::TStringList;
using platform::CodePage;
using platform::FoundFile;
using platform::LetterCase;
using platform::PathRules;

namespace {

constexpr int kCollectState = ARCEXTRACT_COLLECT; // 2053

// Days from 1899-12-30 to a civil date (proleptic Gregorian).
int64_t DaysSince1899(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468 + 25569;
}

bool IsLeapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

// A group of decimal digits; anything else (signs, blanks, hex prefixes) is refused.
int DigitGroup(std::string_view text, size_t pos, size_t len) {
    const std::string_view g = text.substr(pos, len);
    int value = 0;
    for (char c : g) {
        if (c < '0' || c > '9')
            throw EConvertError("'" + std::string(g) + "' は有効な整数値ではありません");
        value = value * 10 + (c - '0');
    }
    return value;
}

// Last-write time in local time, whole seconds; a zero time stays 0.
TDateTime LocalDateTimeOf(platform::FileTime utc) {
    if (utc.Ticks() == 0)
        return 0;
    platform::SystemTime st;
    if (!platform::FileTimeToSystemTime(platform::FileTimeToLocalFileTime(utc), st))
        return 0;
    return EncodeDateTime(st.year, st.month, st.day, st.hour, st.minute, st.second);
}

std::string FolderDelims(const PathRules &r) {
    return r.separator == '\\' ? std::string("\\:") : std::string(1, r.separator);
}

std::string MaskDelims(const PathRules &r) {
    return r.separator == '\\' ? std::string("/\\:") : std::string(1, r.separator);
}

// The drive part of a name: "X:" in the Windows style; on Linux the root of an absolute name,
// so that a name relative to the current folder is never rewritten against an absolute base.
std::string_view DrivePart(std::string_view s, const PathRules &r) {
    if (r.separator == '\\')
        return s.size() >= 2 && s[1] == ':' && platform::IsCharStart(s, 1, r.codePage)
                   ? s.substr(0, 2)
                   : std::string_view();
    return !s.empty() && s[0] == r.separator ? s.substr(0, 1) : std::string_view();
}

// Folder levels of a path that ends in a separator (each level ended by one).
std::vector<std::string_view> FolderLevels(std::string_view path, const PathRules &r) {
    std::vector<std::string_view> levels;
    size_t start = 0;
    for (size_t i = 0; i < path.size(); i = platform::NextCharIndex(path, i, r.codePage)) {
        if (platform::IsPathDelimiter(path, i, r)) {
            levels.push_back(path.substr(start, i - start));
            start = i + 1;
        }
    }
    return levels;
}

// Copies a name into the record's source-name field, cut to fit at a character boundary; the
// rest of the field is cleared so no part of a longer earlier name is left behind.
void PutSourceName(EXTRACTINGINFOEX &info, const std::string &name) {
    constexpr size_t room = sizeof(info.szSourceFileName) - 1;
    size_t n = 0;
    while (n < name.size()) {
        const size_t next = platform::NextCharIndex(name, n);
        if (next > room)
            break;
        n = next;
    }
    std::memset(info.szSourceFileName, 0, sizeof(info.szSourceFileName));
    std::memcpy(info.szSourceFileName, name.data(), n);
}

// The absolute form of a folder name, keeping a trailing separator when it has one (the
// relative-name rule counts the base only up to its last separator).
std::string AbsoluteFolderName(const std::string &dir) {
    std::string abs = platform::ExpandFileName(dir);
    const bool trailing = platform::IsPathDelimiter(dir, dir.size() - 1);
    return trailing ? platform::IncludeTrailingPathDelimiter(abs)
                    : platform::ExcludeTrailingPathDelimiter(abs);
}

// Enters the base folder and leaves it again when the expansion ends, on every path. Drives and
// their own current folders do not exist here, so only the process's folder is restored.
class BaseFolderScope {
public:
    explicit BaseFolderScope(const std::string &base) {
        if (base.empty())
            return;
        saved_.emplace();
        if (!platform::SetCurrentDir(base)) {
            saved_.reset();
            throw EInOutError("フォルダ \"" + base + "\" に移動できません");
        }
    }

private:
    std::optional<platform::ScopedCurrentDir> saved_;
};

class ListBuilder {
public:
    ListBuilder(const TArchiverOptions &options, const std::string &baseDir,
                const TSortedFileNames *exclusions, const TFileListProgress &progress, bool &abort,
                LetterCase lc)
        : opt_(options), base_(baseDir), exclusions_(exclusions), progress_(progress),
          abort_(abort), lc_(lc), result_(lc) {
        lower_ = ParseFilterDate(options.jo, "000000");
        upper_ = ParseFilterDate(options.job, "235959");
        fileAttributes_ = options.a >= 1 ? platform::faHidden | platform::faSysFile : 0u;
        details_ = lower_ != 0 || upper_ != 0 ? platform::DirSearch::Details::Complete
                                              : platform::DirSearch::Details::Names;
        std::memset(&info_, 0, sizeof info_);
    }

    void Run(const TStringList *args, bool emptyMeansAll) {
        if (args == nullptr || args->Empty()) {
            if (emptyMeansAll)
                Scan(std::string(), "*.*");
            return;
        }
        for (const auto &item : *args) {
            if (abort_)
                break;
            const std::string &arg = item.String;
            if (opt_.r >= 2 && platform::DirectoryExists(arg)) {
                Scan(arg, "*.*");
            } else {
                std::string folder, mask;
                SplitFileArg(arg, folder, mask);
                Scan(folder, mask);
            }
        }
    }

    TSortedFileNames Take() { return std::move(result_); }

private:
    bool DatePasses(TDateTime t) const {
        return (lower_ == 0 || t >= lower_) && (upper_ == 0 || t <= upper_);
    }

    std::string FormName(const std::string &folder, const FoundFile &f) const {
        const std::string &name = opt_.ji >= 1 && !f.shortName.empty() ? f.shortName : f.name;
        std::string full = JoinFolder(folder, name);
        if (opt_.jf == -2 && !base_.empty())
            return ExtractRelativePath(base_, full, lc_);
        return full;
    }

    void AddName(std::string name) {
        if (exclusions_ && exclusions_->Contains(name))
            return;
        const std::string copy = progress_ ? name : std::string();
        if (!result_.Add(std::move(name)))
            return;
        if (progress_) {
            PutSourceName(info_, copy);
            progress_(kCollectState, &info_, abort_);
        }
    }

    void Scan(const std::string &folder, const std::string &mask) {
        FoundFile f;
        {
            platform::DirSearch files(folder, mask, fileAttributes_, details_, lc_);
            while (files.Next(f)) {
                if (abort_)
                    return;
                if (f.name == "." || f.name == ".." || (f.attributes & platform::faDirectory))
                    continue;
                if (details_ == platform::DirSearch::Details::Complete &&
                    !DatePasses(LocalDateTimeOf(f.lastWriteTime)))
                    continue;
                AddName(FormName(folder, f));
            }
        }
        if (opt_.r < 1 || (opt_.p > 0 && !platform::HasWildcards(mask)))
            return;
        platform::DirSearch folders(
            folder, "*.*", platform::faDirectory | platform::faHidden | platform::faSysFile,
            platform::DirSearch::Details::Names, lc_);
        while (folders.Next(f)) {
            if (abort_)
                return;
            if (f.name == "." || f.name == ".." || !(f.attributes & platform::faDirectory))
                continue;
            // A linked folder may lead back up the tree; following it could never end.
            if (f.attributes & platform::faSymLink)
                continue;
            // Descend by the folder's real name; the relative-name rule shapes only the names
            // that go into the list (a relative folder name would be searched from the wrong
            // place).
            Scan(JoinFolder(folder, f.name), mask);
        }
    }

    const TArchiverOptions &opt_;
    const std::string &base_;
    const TSortedFileNames *exclusions_;
    const TFileListProgress &progress_;
    bool &abort_;
    LetterCase lc_;
    TSortedFileNames result_;
    TDateTime lower_ = 0, upper_ = 0;
    uint32_t fileAttributes_ = 0;
    platform::DirSearch::Details details_ = platform::DirSearch::Details::Names;
    EXTRACTINGINFOEX info_;
};

} // namespace

bool TSortedFileNames::Less::operator()(const std::string &a, const std::string &b) const {
    if (caseSensitive)
        return platform::CompareFileNames(a, b, codePage) < 0;
    return platform::CompareTextIgnoreCase(a, b, codePage) < 0;
}

TSortedFileNames::TSortedFileNames(LetterCase lc, CodePage cp)
    : names_(Less{lc == LetterCase::Sensitive, cp}) {}

TStringList TSortedFileNames::ToStringList() const {
    TStringList list;
    const Less less = names_.key_comp();
    list.SetCaseSensitive(less.caseSensitive);
    list.SetCompare([less](std::string_view a, std::string_view b) {
        return less.caseSensitive ? platform::CompareFileNames(a, b, less.codePage)
                                  : platform::CompareTextIgnoreCase(a, b, less.codePage);
    });
    list.SetSorted(true);
    // Names arrive in order, so each one goes to the end of the list.
    for (const auto &name : names_)
        list.Add(name);
    return list;
}

TFileListProgress WindowProgress(HWND Window) {
    if (Window == nullptr)
        return {};
    const UINT message = ArcRegisterWindowMessage(ARC_WM_ARCEXTRACT_NAME);
    return [Window, message](int State, EXTRACTINGINFOEX *Info, bool &Abort) {
        if (ArcSendMessage(Window, message, static_cast<WPARAM>(State),
                           reinterpret_cast<LPARAM>(Info)) != 0)
            Abort = true;
    };
}

TDateTime EncodeDateTime(int Year, int Month, int Day, int Hour, int Minute, int Second) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (Year < 1 || Year > 9999 || Month < 1 || Month > 12 || Day < 1 ||
        Day > (Month == 2 && IsLeapYear(Year) ? 29 : kDays[Month - 1]))
        throw EConvertError("日付の引数が不正です");
    if (Hour < 0 || Hour > 23 || Minute < 0 || Minute > 59 || Second < 0 || Second > 59)
        throw EConvertError("時刻の引数が不正です");
    const auto days = static_cast<double>(
        DaysSince1899(Year, static_cast<unsigned>(Month), static_cast<unsigned>(Day)));
    return days + (Hour * 3600 + Minute * 60 + Second) / 86400.0;
}

TDateTime ParseFilterDate(std::string_view Text, std::string_view DefaultTime) {
    return ParseFilterDate(Text, DefaultTime, platform::GetLocalTime().year);
}

TDateTime ParseFilterDate(std::string_view Text, std::string_view DefaultTime, int CurrentYear) {
    if (Text.size() > 1 && Text[0] == 'l')
        Text = Text.substr(1, 99);
    int year = 0;
    size_t datePart = 0;
    switch (Text.size()) {
    case 6:
    case 12: {
        const int pivot = CurrentYear - 50;
        year = DigitGroup(Text, 0, 2) + pivot / 100 * 100;
        if (year < pivot)
            year += 100;
        datePart = 6;
        break;
    }
    case 8:
    case 14:
        year = DigitGroup(Text, 0, 4);
        datePart = 8;
        break;
    default:
        return 0; // no bound; the unset string comes here too
    }
    const int month = DigitGroup(Text, datePart - 4, 2);
    const int day = DigitGroup(Text, datePart - 2, 2);
    const std::string_view time = Text.size() > datePart ? Text.substr(datePart) : DefaultTime;
    if (time.size() != 6)
        throw EConvertError("時刻の引数が不正です");
    return EncodeDateTime(year, month, day, DigitGroup(time, 0, 2), DigitGroup(time, 2, 2),
                          DigitGroup(time, 4, 2));
}

void SplitFileArg(std::string_view Arg, std::string &Folder, std::string &Mask,
                  const PathRules &Rules) {
    const size_t f = platform::LastDelimiter(FolderDelims(Rules), Arg, Rules);
    Folder.clear();
    if (f != std::string_view::npos) {
        Folder.assign(Arg.substr(0, f + 1));
        // Drop the trailing separator, except for a root ("/", "C:\") or a doubled separator.
        if (Arg[f] == Rules.separator && f > 0) {
            const size_t before = f - 1;
            const bool keep =
                platform::IsCharStart(Arg, before, Rules.codePage) &&
                (Arg[before] == Rules.separator || (Rules.separator == '\\' && Arg[before] == ':'));
            if (!keep)
                Folder.pop_back();
        }
    }
    const size_t m = platform::LastDelimiter(MaskDelims(Rules), Arg, Rules);
    Mask.assign(m == std::string_view::npos ? Arg : Arg.substr(m + 1));
}

std::string JoinFolder(std::string_view Folder, std::string_view Name, const PathRules &Rules) {
    std::string out(Folder);
    if (!out.empty() && !platform::IsPathDelimiter(out, out.size() - 1, Rules))
        out += Rules.separator;
    out += Name;
    return out;
}

std::string ExtractRelativePath(std::string_view Base, std::string_view Dest, LetterCase LetterCase,
                                const PathRules &Rules) {
    const std::string_view baseDrive = DrivePart(Base, Rules);
    const std::string_view destDrive = DrivePart(Dest, Rules);
    // Drive letters are the same drive in either case, whatever the rule for names.
    if (!platform::SameFileName(baseDrive, destDrive, LetterCase::Insensitive, Rules.codePage))
        return std::string(Dest);
    const std::string basePath = platform::ExtractFilePath(Base.substr(baseDrive.size()), Rules);
    const std::string destPath = platform::ExtractFilePath(Dest.substr(destDrive.size()), Rules);
    const auto baseLevels = FolderLevels(basePath, Rules);
    const auto destLevels = FolderLevels(destPath, Rules);
    size_t common = 0;
    while (
        common < baseLevels.size() && common < destLevels.size() &&
        platform::SameFileName(baseLevels[common], destLevels[common], LetterCase, Rules.codePage))
        ++common;
    std::string out;
    for (size_t i = common; i < baseLevels.size(); ++i)
        out += std::string("..") + Rules.separator;
    for (size_t i = common; i < destLevels.size(); ++i) {
        out += destLevels[i];
        out += Rules.separator;
    }
    out += platform::ExtractFileName(Dest, Rules);
    return out;
}

TSortedFileNames BuildFileList(const TArchiverOptions &Options, const std::string &BaseDir,
                               const TStringList *Args, const TSortedFileNames *Exclusions,
                               const TFileListProgress &Progress, bool &Abort, bool EmptyMeansAll,
                               LetterCase LetterCase) {
    ListBuilder builder(Options, BaseDir, Exclusions, Progress, Abort, LetterCase);
    builder.Run(Args, EmptyMeansAll);
    return builder.Take();
}

TStringList ExpandFileList(TArchiverOptions &Options, const std::string &BaseDir,
                           const TFileListProgress &Progress, const archives::TFileArgs &Args,
                           bool &Abort, LetterCase LetterCase) {
    // Every text the arguments stand for, in order; empty ones too (they add no file).
    TStringList args;
    archives::ForEachFileArgName(Args, [&args](std::string name) { args.Add(std::move(name)); });

    // A relative base folder means the folder below the one the expansion starts in; names are
    // made relative to that folder, not to one found from inside the base.
    const std::string base =
        BaseDir.empty() || BaseDir[0] == '/' ? BaseDir : AbsoluteFolderName(BaseDir);
    TStringList result;
    {
        BaseFolderScope inBase(BaseDir);
        const TSortedFileNames excluded =
            BuildFileList(Options, base, &Options.jx, nullptr, {}, Abort, false, LetterCase);
        result = BuildFileList(Options, base, &args, &excluded, Progress, Abort, true, LetterCase)
                     .ToStringList();
        // The archiver must not filter the chosen files a second time.
        Options.r = -1;
        Options.jo = archives::UnsetString;
        Options.job = archives::UnsetString;
        Options.p = 1;
    }
    return result;
}

} // namespace filters
