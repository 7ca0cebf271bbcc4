#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

#include "platform/daw_root.h"
#include "platform/fake_accessibility.h"
#include "platform/files.h"
#include "platform/running_processes.h"
#include "tests/settings/test_folder.h"

using namespace crestline;

namespace {

void write(const std::filesystem::path& file, const std::string& text) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

void fakeProcess(const std::filesystem::path& proc, int pid, const std::string& comm, const std::string& cmdline,
                 char state = 'S') {
    const auto dir = proc / std::to_string(pid);
    write(dir / "comm", comm + "\n");
    write(dir / "cmdline", cmdline);
    write(dir / "stat", std::to_string(pid) + " (" + comm + ") " + state + " 1 1 1");
}

}  // namespace

TEST(RunningProcesses, LiveUnderWineIsFoundByItsWindowsProgramAfterTheLoader) {
    const auto proc = crestline::test::freshFolder();
    const std::string exe = "C:\\ProgramData\\Ableton\\Live 12 Suite\\Program\\Ableton Live 12 Suite.exe";
    auto args = [](std::initializer_list<std::string> list) {
        std::string cmdline;
        for (const auto& a : list) cmdline += a + '\0';
        return cmdline;
    };
    // The loader kept as argv[0] with the kernel's name still its own, then
    // Wine's neighbours that must not count.
    fakeProcess(proc, 2000, "wine64-preload", args({"/usr/lib/wine/wine64-preloader", exe, "", ""}));
    fakeProcess(proc, 1990, "start.exe", args({"C:\\windows\\system32\\start.exe", "/unix", "/x/Ableton Live 12 Suite.exe"}));
    fakeProcess(proc, 1980, "Ableton Index.e", args({"C:\\ProgramData\\Ableton\\Ableton Index.exe"}));
    fakeProcess(proc, 1970, "wineserver", args({"/usr/lib/wine/wineserver"}));
    ProcFsProcessList list(proc.string());
    const auto live = findLive(list);
    ASSERT_TRUE(live);
    EXPECT_EQ(live->pid, 2000);
    EXPECT_EQ(live->program, exe);
    EXPECT_EQ(live->executable, "Ableton Live 12 Suite.exe");

    struct Case {
        std::string cmdline;
        std::string program;
    };
    const Case programs[] = {
        {args({exe}), exe},                                       // Wine moved the program's name over its own
        {args({"wine", exe, "Z:\\home\\me\\Song.als"}), exe},     // started as `wine "C:\...exe" set`
        {args({"/opt/wine-staging/bin/wine64", "/home/me/.wine/drive_c/x/Ableton Live 11 Lite.exe"}),
         "/home/me/.wine/drive_c/x/Ableton Live 11 Lite.exe"},
        {"\"" + exe + "\" Z:\\Song.als", exe},                    // one string with quotes
        {args({"wine"}), "wine"},
        {"", ""},
        {"\"unclosed", "unclosed"},
    };
    for (const auto& c : programs) EXPECT_EQ(programOf(c.cmdline), c.program) << c.cmdline;

    const std::pair<RunningProcess, bool> verdicts[] = {
        {{1, "Ableton Live 12", "Ableton Live 12 Suite.exe"}, true},
        {{1, "Ableton Live 9 ", "ABLETON LIVE 9 STANDARD.EXE"}, true},
        {{1, "Ableton Live 12", ""}, true},           // the command line could not be read
        {{1, "Ableton Live 12", "start.exe"}, false},  // a launcher is not Live
        {{1, "x", "Ableton Live.exe"}, false},         // no version between
        {{1, "x", "Ableton Live 12 Suite"}, true},     // native name
        {{1, "x", "Ableton Index.exe"}, false},
        {{1, "ableton live 1", ""}, true},  // any case
        {{1, "Ableton", "Ableton Index"}, false},
        {{1, "", ""}, false},
        {{1, "my Ableton Live", "/usr/bin/x"}, false},
    };
    for (const auto& [process, isLive] : verdicts) EXPECT_EQ(isAbleton(process), isLive) << process.executable;
}

TEST(RunningProcesses, ARescanSeesAnExecAReusedPidAndProcessesThatEnded) {
    const auto proc = crestline::test::freshFolder();
    const auto dir = proc / "3000";
    // A shell about to exec Live: the scan remembers its command line.
    fakeProcess(proc, 3000, "bash", std::string("bash\0-c\0", 8));
    write(dir / "stat", "3000 (bash) S 1 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 5000 0 0");
    fakeProcess(proc, 3001, "sleep", std::string("sleep\0", 6), 'Z');
    ProcFsProcessList list(proc.string());
    EXPECT_FALSE(findLive(list));
    ASSERT_EQ(list.running().size(), 1u);  // the zombie does not count

    // The exec renames the process: its new command line is read.
    write(dir / "cmdline", std::string("/opt/live/Ableton Live 12\0", 26));
    write(dir / "stat", "3000 (Ableton Live 12) S 1 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 5000 0 0");
    const auto live = findLive(list);
    ASSERT_TRUE(live);
    EXPECT_EQ(live->executable, "Ableton Live 12");

    // The pid comes back as another process with the same name, started later.
    write(dir / "cmdline", std::string("/usr/bin/other\0", 15));
    write(dir / "stat", "3000 (Ableton Live 12) S 1 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 9000 0 0");
    EXPECT_EQ(list.running().front().executable, "other");

    // Garbage and truncated stat lines are no process; ended ones go.
    for (const char* text : {"", "3000", "3000 (unclosed S 1", ")(", "3000 (x)"}) {
        write(dir / "stat", text);
        const auto running = list.running();
        for (const auto& process : running) EXPECT_TRUE(process.pid != 3000 || std::string(text) == "3000 (x)") << text;
    }
    std::filesystem::remove_all(dir);
    EXPECT_TRUE(list.running().empty());
}

TEST(WinePrefix, WindowsPathsAreTakenApartOrRefusedWithAReason) {
    struct Case {
        std::string text;
        char drive;
        std::vector<std::string> components;
        std::string why;
    };
    const Case cases[] = {
        {"C:\\Users\\me\\Music", 'c', {"Users", "me", "Music"}, ""},
        {"z:/home//me/./x/../Music/", 'z', {"home", "me", "Music"}, ""},
        {"\\\\?\\D:\\Samples", 'd', {"Samples"}, ""},
        {"C:\\..\\..\\Windows", 'c', {"Windows"}, ""},  // never above the drive
        {"C:\\", 'c', {}, ""},
        {"", 0, {}, "empty"},
        {"\\\\studio\\share", 0, {}, "a network path"},
        {"Ableton\\User Library", 0, {}, "not a Windows path with a drive letter"},
        {"/home/me/Music", 0, {}, "not a Windows path with a drive letter"},
        {"C:Music", 0, {}, "relative to the drive's current folder"},
        {"C:", 0, {}, "a drive without a folder"},
        {"1:\\x", 0, {}, "not a Windows path with a drive letter"},
        {"C:\\a|b", 0, {}, "the character | in \"a|b\""},
        {std::string("C:\\a\0b", 5), 0, {}, "a control character"},
        {"C:\\" + std::string(40000, 'a'), 0, {}, "longer than Windows allows"},
    };
    for (const auto& c : cases) {
        const auto parsed = parseWindowsPath(c.text);
        EXPECT_EQ(parsed.drive, c.drive) << c.text.substr(0, 40);
        EXPECT_EQ(parsed.components, c.components) << c.text.substr(0, 40);
        EXPECT_TRUE(parsed.why.starts_with(c.why)) << parsed.why;
        EXPECT_EQ(parsed.why.empty(), c.drive != 0);
    }
}

TEST(WinePrefix, PathsTranslateThroughDosdevicesMatchingCaseAsWindowsDoes) {
    const auto scratch = crestline::test::freshFolder();
    const auto prefix = scratch / "prefix";
    const auto unix = scratch / "unix";
    std::filesystem::create_directories(prefix / "drive_c" / "users" / "me" / "Documents" / "Ableton");
    std::filesystem::create_directories(prefix / "drive_c" / "users" / "Public");
    std::filesystem::create_directories(prefix / "drive_c" / "users" / "steamuser");
    std::filesystem::create_directories(prefix / "dosdevices");
    std::filesystem::create_directories(unix / "Music");
    std::filesystem::create_symlink("../drive_c", prefix / "dosdevices" / "c:");
    std::filesystem::create_symlink(unix, prefix / "dosdevices" / "z:");
    std::filesystem::create_symlink("/nonexistent-crestline-drive", prefix / "dosdevices" / "e:");
    const auto c = prefix / "drive_c";

    const std::pair<std::string, std::optional<std::filesystem::path>> cases[] = {
        {"c:\\USERS\\Me\\documents\\ableton\\User Library", c / "users" / "me" / "Documents" / "Ableton" / "User Library"},
        {"Z:\\music\\New\\Folder", unix / "Music" / "New" / "Folder"},  // the rest as written
        {"D:\\Music", std::nullopt},                                  // no such drive
        {"E:\\Music", std::nullopt},                                  // a drive leading nowhere
        {"\\\\server\\Music", std::nullopt},
    };
    for (const auto& [windows, expected] : cases) {
        const auto translated = translateWindowsPath(prefix, windows);
        EXPECT_EQ(translated.path, expected) << windows;
        EXPECT_EQ(translated.why.empty(), expected.has_value()) << translated.why;
    }
    EXPECT_NE(translateWindowsPath(prefix, "E:\\x").why.find("/nonexistent-crestline-drive"), std::string::npos);

    // A prefix copied without its links still has drive C.
    std::filesystem::remove_all(prefix / "dosdevices");
    EXPECT_EQ(translateWindowsPath(prefix, "C:\\users").path, c / "users");
    EXPECT_EQ(wineUserFolders(prefix), (std::vector{c / "users" / "me", c / "users" / "steamuser"}));
    // The exact spelling wins over another case; otherwise the first by name.
    std::filesystem::create_directories(c / "users" / "Me");
    EXPECT_EQ(childFolded(c / "users", "me"), c / "users" / "me");
    EXPECT_EQ(childFolded(c / "users", "ME"), c / "users" / "Me");
    EXPECT_FALSE(childFolded(c / "users", "nobody"));
}

TEST(RunningProcesses, FindsLiveByCommandOrProgramNameIgnoringCase) {
    const auto proc = crestline::test::freshFolder();
    fakeProcess(proc, 300, "bash", std::string("/bin/bash\0-l", 12));
    fakeProcess(proc, 1200, "Live 12 Suite.e",
                std::string("C:\\ProgramData\\Ableton\\Live 12 Suite\\Program\\Ableton Live 12 Suite.exe\0--x", 74));
    fakeProcess(proc, 900, "ableton live 11", "", 'Z');  // a zombie is gone
    fakeProcess(proc, 1500, "ABLETON LIVE 9", "/opt/x");
    write(proc / "self" / "comm", "Ableton Live\n");  // not a pid
    write(proc / "version", "Linux");

    ProcFsProcessList list(proc.string());
    const auto all = list.running();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].pid, 300);
    EXPECT_EQ(all[0].executable, "bash");
    EXPECT_EQ(all[1].executable, "Ableton Live 12 Suite.exe");
    const auto live = findLive(list);
    ASSERT_TRUE(live);
    EXPECT_EQ(live->pid, 1200);
}

TEST(RunningProcesses, TheProcessWideListCanBeReplaced) {
    auto fake = std::make_shared<FakeProcessList>();
    fake->processes = {{10, "x", "x"}, {11, "Ableton Live 1", ""}};
    auto previous = setProcessList(fake);
    EXPECT_EQ(findLive()->pid, 11);
    fake->processes.pop_back();
    EXPECT_FALSE(findLive());
    setProcessList(previous);
    // The real /proc: this test process is never Live, and it is listed.
    const auto real = processList().running();
    EXPECT_TRUE(std::any_of(real.begin(), real.end(), [](const auto& p) { return p.pid == getpid(); }));
}

TEST(DawRoot, EnvironmentBeatsSettingBeatsHome) {
    unsetenv("CRESTLINE_LIVE_ROOT");  // nothing else in this process reads it
    EXPECT_EQ(resolveDawRoot("/from/setting"), "/from/setting");
    EXPECT_EQ(resolveDawRoot(""), std::getenv("HOME"));
    setenv("CRESTLINE_LIVE_ROOT", "/from/env", 1);
    EXPECT_EQ(resolveDawRoot("/from/setting"), "/from/env");
    unsetenv("CRESTLINE_LIVE_ROOT");
}

TEST(DawRoot, PicksTheNewestLiveApplicationThatHasContents) {
    const auto root = crestline::test::freshFolder();
    EXPECT_FALSE(dawApplication(root));
    std::filesystem::create_directories(root / "Applications" / "Ableton Live 9 Suite.app" / "Contents");
    std::filesystem::create_directories(root / "Applications" / "Ableton Live 12 Suite.app" / "Contents");
    std::filesystem::create_directories(root / "Applications" / "Ableton Live 13 Beta.app");  // no Contents
    std::filesystem::create_directories(root / "Applications" / "Other.app" / "Contents");
    EXPECT_EQ(dawApplication(root), root / "Applications" / "Ableton Live 12 Suite.app");
    EXPECT_TRUE(versionLess("Live 9", "Live 12"));
    EXPECT_TRUE(versionLess("Live 012", "Live 13"));
    EXPECT_FALSE(versionLess("Live 12", "Live 12"));
    EXPECT_TRUE(versionLess("Live 12", "Live 12 Suite"));
}

TEST(Files, AtomicWritesKeepModeAndNeverOverwriteWhenAskedNotTo) {
    const auto folder = crestline::test::freshFolder();
    const auto file = folder / "Preferences.cfg";
    ASSERT_TRUE(writeFileAtomically(file, "first", 0640));
    auto stamp = fileStamp(file);
    ASSERT_TRUE(stamp);
    EXPECT_EQ(stamp->mode, 0640u);
    EXPECT_EQ(stamp->size, 5u);
    EXPECT_FALSE(writeFileAtomically(file, "second", 0600, false));
    EXPECT_EQ(readFileBytes(file, 100), "first");
    ASSERT_TRUE(writeFileAtomically(file, "second", 0600));
    EXPECT_EQ(readFileBytes(file, 100), "second");
    EXPECT_EQ(fileStamp(file)->mode, 0600u);
    // No temporary files are left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
    EXPECT_FALSE(writeFileAtomically(folder / "missing" / "x", "y", 0600));
    EXPECT_FALSE(readFileBytes(file, 5));
    EXPECT_FALSE(readFileBytes(folder, 5));
    EXPECT_FALSE(fileStamp(folder));
    FileStamp read;
    EXPECT_EQ(readFileBytes(file, 6, &read), "second");
    EXPECT_EQ(read, *fileStamp(file));
}

TEST(FakeAccessibility, ScriptsValuesFailuresTimeoutsAndNotifications) {
    FakeAccessibility ax;
    auto window = ax.addWindow(5, "Settings");
    auto control = window->addChild();
    control->set("AXValue", std::string("Default"));
    auto list = axElements(*ax.application(5), "AXWindows");
    ASSERT_TRUE(list && list->size() == 1u);
    EXPECT_EQ(axString(*list->front(), "AXTitle"), "Settings");
    EXPECT_FALSE(axBool(*list->front(), "AXTitle") || axString(*list->front(), "AXDocument"));
    control->fail("AXValue", AXError::invalidElement);
    AXValue value;
    EXPECT_EQ(control->copyAttribute("AXValue", value), AXError::invalidElement);

    // The application's time-out bounds its windows' requests; a window's own wins.
    ax.setResponseDelay(5, 1.0);
    for (const auto& [app, own, answers] : std::vector<std::tuple<double, double, bool>>{
             {0.0, 0.0, true}, {0.5, 0.0, false}, {2.0, 0.0, true}, {2.0, 0.25, false}}) {
        if (app > 0) ax.app(5)->setMessagingTimeout(app);
        if (own > 0) window->setMessagingTimeout(own);
        EXPECT_EQ(axString(*window, "AXTitle").has_value(), answers) << app << " " << own;
    }

    int calls = 0;
    {
        auto observer = ax.createObserver(5, [&](const AXElementRef&, const std::string& n) {
            EXPECT_EQ(n, "AXValueChanged");
            ++calls;
        });
        ASSERT_TRUE(observer);
        EXPECT_EQ(observer->addNotification(control, "AXValueChanged"), AXError::success);
        EXPECT_EQ(ax.post(control, "AXValueChanged"), 1);
        EXPECT_EQ(ax.post(window, "AXValueChanged"), 0);
        EXPECT_EQ(ax.liveObservers(), 1);
    }
    EXPECT_EQ(ax.post(control, "AXValueChanged"), 0);  // gone with its observer
    EXPECT_EQ(calls, 1);

    window->allowWrites("AXPosition");
    EXPECT_EQ(window->setAttribute("AXPosition", AXPoint{10, 20}), AXError::success);
    EXPECT_EQ(window->setAttribute("AXTitle", std::string("x")), AXError::attributeUnsupported);
    ax.setResponseDelay(5, 0);
    EXPECT_EQ(axPoint(*window, "AXPosition"), (AXPoint{10, 20}));
    EXPECT_EQ(*axText(100.0) + " " + *axText(0.5) + " " + *axText(true), "100 0.5 1");
    EXPECT_FALSE(axText(AXSize{1, 2}));
}
