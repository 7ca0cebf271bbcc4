#include "app/crash_reporter.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QEventLoop>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "app/crash_handler.h"
#include "app/desktop_services.h"
#include "settings/settings.h"
#include "tests/app/service_fakes.h"
#include "tests/settings/test_folder.h"

// Crashes on purpose in a child run of this binary (see CrashChild below).
// A store to an unmapped page near zero (not to null itself, which the
// sanitizer build would stop before the fault).
extern "C" __attribute__((noinline)) void crestlineCrashNow() {
    static volatile std::uintptr_t address = 16;  // hidden from the optimiser
    volatile int* nowhere = reinterpret_cast<volatile int*>(address);
    *nowhere = 1;
}
extern "C" __attribute__((noinline)) void crestlineAbortNow() { std::abort(); }

namespace crestline {
namespace {

using test::freshFolder;
using test::readFile;
using test::writeFile;

// Runs in the child only: installs the handler over the folder the parent
// names, then crashes the way it says.
TEST(CrashChild, CrashesWhenAsked) {
    const char* folder = std::getenv("CRESTLINE_CRASH_FOLDER");
    const char* how = std::getenv("CRESTLINE_CRASH_HOW");
    if (folder == nullptr || how == nullptr) GTEST_SKIP() << "runs only as the crash tests' child";
    ASSERT_TRUE(installCrashHandler({folder, "9.8.7", "abc123"}));
    if (std::string(how) == "segv") crestlineCrashNow();
    crestlineAbortNow();
}

// The child's exit status and the report files it left.
struct ChildCrash {
    int status = 0;
    std::vector<std::filesystem::path> reports;
    std::vector<std::filesystem::path> others;
};

ChildCrash crashChild(const std::filesystem::path& folder, const char* how) {
    ChildCrash result;
    const std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("CRESTLINE_CRASH_FOLDER", folder.c_str(), 1);
        setenv("CRESTLINE_CRASH_HOW", how, 1);
        // No core file and no sanitizer report on the test's output.
        setenv("ASAN_OPTIONS", "handle_segv=0:handle_abort=0:disable_coredump=1", 1);
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        dup2(devnull, 2);
        execl(exe.c_str(), exe.c_str(), "--gtest_filter=CrashChild.CrashesWhenAsked", nullptr);
        _exit(127);
    }
    waitpid(pid, &result.status, 0);
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        (name.rfind("Crestline-", 0) == 0 ? result.reports : result.others).push_back(entry.path());
    }
    return result;
}

// A fault and an abort each leave one report and still end the process by
// their signal; the first frame of ours is named (abort() itself is in the
// C library).
TEST(CrashHandler, ACrashedChildLeavesAReportWithSignalAddressAndOurFrames) {
    const struct {
        const char* how;
        int signal;
        const char* name;
        const char* address;  // none for an abort
        const char* summary;
    } cases[] = {
        {"segv", SIGSEGV, "SIGSEGV", "0x10", "SEGV_MAPERR SIGSEGV in crestlineCrashNow"},
        {"abort", SIGABRT, "SIGABRT", nullptr, "abort SIGABRT in crestlineAbortNow"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        const ChildCrash child = crashChild(freshFolder(), c.how);
        ASSERT_TRUE(WIFSIGNALED(child.status)) << "status " << child.status;
        EXPECT_EQ(WTERMSIG(child.status), c.signal);
        ASSERT_EQ(child.reports.size(), 1u);
        EXPECT_TRUE(child.others.empty()) << "the running file is renamed, not left beside the report";
        EXPECT_EQ(child.reports[0].extension(), ".json");

        const std::string text = readFile(child.reports[0]);
        const auto report = nlohmann::json::parse(text, nullptr, false);
        ASSERT_FALSE(report.is_discarded()) << text;
        EXPECT_EQ(report["version"], "9.8.7");
        EXPECT_EQ(report["build"], "abc123");
        EXPECT_EQ(report["exception"]["signal"], c.name);
        EXPECT_EQ(report["exception"].value("address", ""), c.address ? c.address : "");
        EXPECT_EQ(CrashReporter::summary(text), c.summary);
        EXPECT_GE(report["threads"][0]["frames"].size(), 3u);
    }
}

TEST(CrashHandler, StaleRunningFilesOfGoneProcessesAreRemoved) {
    const auto folder = freshFolder();
    const pid_t gone = fork();
    if (gone == 0) _exit(0);
    waitpid(gone, nullptr, 0);
    writeFile(folder / (".running-" + std::to_string(gone)), "");
    writeFile(folder / (".running-" + std::to_string(getppid())), "");  // alive
    writeFile(folder / ".running-garbage", "");
    removeStaleRunningFiles(folder);
    EXPECT_FALSE(std::filesystem::exists(folder / (".running-" + std::to_string(gone))));
    EXPECT_TRUE(std::filesystem::exists(folder / (".running-" + std::to_string(getppid()))));
    EXPECT_TRUE(std::filesystem::exists(folder / ".running-garbage"));
}

TEST(CrashReporter, ScrubRemovesNamesOfPeopleAndMachines) {
    const ScrubNames names{"alice", "studio-pc"};
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {R"("path":"/home/alice/.local/bin/crestline")", R"("path":"/home/USER/.local/bin/crestline")"},
        {"/Users/bob/Music and /Users/bob", "/Users/USER/Music and /Users/USER"},
        {"/home/ end", "/home/ end"},  // no name to remove
        {R"("sleepWakeUUID" :  "A1B2")", R"("sleepWakeUUID":"-")"},
        {"\"incident_id\"\n:\t\"x y\", \"incident\":\"7\"", R"("incident_id":"-", "incident":"-")"},
        {R"("bootSessionUUID":"open)", R"("bootSessionUUID":"open)"},  // unterminated: left alone
        {R"("crashReporterKey": 17)", R"("crashReporterKey": 17)"},    // not a string
        {"id 123e4567-e89b-12d3-a456-426614174000.", "id UUID."},
        {"x123e4567-e89b-12d3-a456-426614174000", "x123e4567-e89b-12d3-a456-426614174000"},
        {"123e4567-e89b-12d3-a456-42661417400", "123e4567-e89b-12d3-a456-42661417400"},  // one short
        {"user alice on studio-pc; malice", "user USER on HOST; malice"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(CrashReporter::scrub(c.in, names), c.out) << c.in;

    // Every identifier member, in one report.
    std::string report = "{";
    for (const char* key : {"crashReporterKey", "sleepWakeUUID", "deviceIdentifierForVendor",
                            "deviceIdentifierForAdvertising", "incident", "incident_id", "bug_type_id",
                            "bootSessionUUID"}) {
        report += std::string("\"") + key + "\" : \"secret\",";
    }
    report += "\"kept\":\"secret\"}";
    const std::string scrubbed = CrashReporter::scrub(report, {});
    EXPECT_EQ(std::count(scrubbed.begin(), scrubbed.end(), '-'), 8) << scrubbed;
    EXPECT_NE(scrubbed.find(R"("kept":"secret")"), std::string::npos);
}

TEST(CrashReporter, SummaryReadsOnlyWhatIsThereAndInRange) {
    const std::string good =
        R"({"exception":{"type":"EXC_BAD_ACCESS","signal":"SIGSEGV"},"faultingThread":1,
            "threads":[{"frames":[]},{"frames":[{"imageIndex":0,"symbol":"libc"},{"imageIndex":1,"symbol":"draw"}]}],
            "usedImages":[{"name":"libc.so.6"},{"name":"Crestline"}]})";
    EXPECT_EQ(CrashReporter::summary(good), "EXC_BAD_ACCESS SIGSEGV in draw");
    const struct {
        std::string report;
        std::string summary;
    } cases[] = {
        {"", ""},
        {"not json", ""},
        {good.substr(0, good.size() / 2), ""},  // truncated
        {"[1,2]", ""},
        {R"({"exception":{"signal":"SIGBUS"}})", "SIGBUS"},
        {R"({"exception":{"type":7,"signal":"SIGILL"},"faultingThread":5,"threads":[],"usedImages":[]})", "SIGILL"},
        {R"({"exception":{"signal":"SIGFPE"},"faultingThread":-1,"threads":[{"frames":[]}],"usedImages":[]})",
         "SIGFPE"},
        {R"({"faultingThread":0,"threads":[{"frames":[{"imageIndex":9,"symbol":"x"},{"imageIndex":-2},
            {"imageIndex":"0","symbol":"y"},{"imageIndex":0,"symbol":"z"}]}],"usedImages":[{"name":"Crestline"}]})",
         " in z"},
        {R"({"faultingThread":0,"threads":[{"frames":{"imageIndex":0}}],"usedImages":[{"name":"Crestline"}]})", ""},
        {R"({"faultingThread":0,"threads":[7],"usedImages":[3]})", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(CrashReporter::summary(c.report), c.summary) << c.report;
}

class CrashReporterFlow : public ::testing::Test {
protected:
    std::filesystem::path folder = freshFolder();
    FakeClock clock;
    Settings settings{folder / "settings.json", clock, Settings::Writing::manual};
    std::filesystem::path crashes = folder / "crashes";
    CrashReporter reporter{settings, clock, crashes, {"1.2", "", "Debian 12", "PC", "Debian GNU/Linux"},
                           {"alice", "box"}};
    test::ScriptedAlerts alerts;
    test::RecordingUpload upload;

    CrashReporterFlow() { std::filesystem::create_directories(crashes); }

    void report(const std::string& name, const std::string& text, double secondsFromNow) {
        writeFile(crashes / name, text);
        const auto when = clock.date() + std::chrono::milliseconds(static_cast<long>(secondsFromNow * 1000));
        std::filesystem::last_write_time(crashes / name, std::chrono::file_clock::from_sys(when));
    }
};

TEST_F(CrashReporterFlow, TheFirstRunRecordsTheDateAndOffersNoOldCrash) {
    report("Crestline-1-1.json", R"({"exception":{"signal":"SIGSEGV"}})", -60);
    reporter.start();
    EXPECT_FALSE(reporter.pending());
    EXPECT_EQ(settings.date(CrashReporter::kCheckedUntilKey), clock.date());
}

TEST_F(CrashReporterFlow, OnlyTheNewestReportAfterTheDateIsAskedOnceAndSentScrubbed) {
    settings.setDate(CrashReporter::kCheckedUntilKey, clock.date());
    report("Crestline-1-1.json", R"({"exception":{"signal":"SIGOLD"}})", -10);
    report("Crestline-2-2.json", R"({"exception":{"signal":"SIGBUS"},"p":"/home/alice/x"})", 20);
    report("Crestline-3-3.json", R"({"exception":{"signal":"SIGSEGV"},"p":"/home/alice/y"})", 30);
    report("Other-4-4.json", R"({"exception":{"signal":"SIGNOTOURS"}})", 40);
    report("Crestline-5-5.txt", R"({"exception":{"signal":"SIGTXT"}})", 50);
    reporter.start();
    ASSERT_TRUE(reporter.pending());
    EXPECT_EQ(reporter.pending()->summary, "SIGSEGV");
    EXPECT_EQ(reporter.pending()->report, R"({"exception":{"signal":"SIGSEGV"},"p":"/home/USER/y"})");

    // A second source does not displace the pending report.
    reporter.offer({"other", "other"});
    EXPECT_EQ(reporter.pending()->summary, "SIGSEGV");

    clock.advance(100);
    reporter.ask(alerts, upload, "http://127.0.0.1:9/api/crash");
    ASSERT_EQ(alerts.shown.size(), 1u);
    EXPECT_EQ(alerts.shown[0].message, "Crestline quit unexpectedly last time");
    EXPECT_NE(alerts.shown[0].information.find("the Crestline and Debian GNU/Linux version"), std::string::npos);
    EXPECT_EQ(alerts.shown[0].first, "Send Report");
    EXPECT_EQ(alerts.shown[0].second, "Don't Send");
    // The date is stored before the answer comes, and the report is no
    // longer pending: a second ask shows nothing.
    EXPECT_EQ(settings.date(CrashReporter::kCheckedUntilKey), clock.date());
    EXPECT_FALSE(reporter.pending());
    reporter.ask(alerts, upload, "http://127.0.0.1:9/api/crash");
    EXPECT_EQ(alerts.shown.size(), 1u);

    alerts.answer(AlertAnswer::first);
    ASSERT_EQ(upload.posts.size(), 1u);
    EXPECT_EQ(upload.posts[0].first, "http://127.0.0.1:9/api/crash");
    const auto body = nlohmann::json::parse(upload.posts[0].second);
    EXPECT_EQ(body, (nlohmann::json{{"version", "1.2"},
                                    {"build", "?"},
                                    {"os", "Debian 12"},
                                    {"model", "PC"},
                                    {"summary", "SIGSEGV"},
                                    {"report", R"({"exception":{"signal":"SIGSEGV"},"p":"/home/USER/y"})"}}));

    // The next launch finds nothing newer than the answer.
    CrashReporter next(settings, clock, crashes, {}, {});
    next.start();
    EXPECT_FALSE(next.pending());
}

TEST_F(CrashReporterFlow, OnlyTheNewestReportsAreKept) {
    settings.setDate(CrashReporter::kCheckedUntilKey, clock.date());
    for (int i = 0; i < 12; ++i) report("Crestline-" + std::to_string(i) + ".json", "{}", i - 20);
    report("Notes.txt", "mine", -100);
    reporter.start();
    EXPECT_FALSE(reporter.pending());  // all from before the date
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(std::filesystem::exists(crashes / ("Crestline-" + std::to_string(i) + ".json")), i >= 2) << i;
    EXPECT_TRUE(std::filesystem::exists(crashes / "Notes.txt"));
}

TEST_F(CrashReporterFlow, DontSendAndDismissSendNothing) {
    for (AlertAnswer answer : {AlertAnswer::second, AlertAnswer::dismissed}) {
        reporter.offer({"r", "s"});
        reporter.ask(alerts, upload, "http://127.0.0.1:9/api/crash");
        alerts.answer(answer);
    }
    EXPECT_EQ(alerts.shown.size(), 2u);
    EXPECT_TRUE(upload.posts.empty());
}

// A one-request HTTP server on a free loopback port, answering 204.
TEST(NetworkCrashUpload, PostsJsonToTheEndpoint) {
    test::application();

    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    QByteArray request;
    bool complete = false;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        QTcpSocket* socket = server.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, [&, socket] {
            request += socket->readAll();
            const qsizetype headerEnd = request.indexOf("\r\n\r\n");
            if (headerEnd < 0) return;
            const qsizetype at = request.toLower().indexOf("content-length:");
            const int length = at < 0 ? 0 : request.mid(at + 15, request.indexOf("\r\n", at) - at - 15).trimmed().toInt();
            if (request.size() < headerEnd + 4 + length) return;
            complete = true;
            socket->write("HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n");
            socket->disconnectFromHost();
        });
    });

    NetworkCrashUpload upload;
    const std::string url = "http://127.0.0.1:" + std::to_string(server.serverPort()) + "/api/crash";
    upload.post(url, R"({"summary":"SIGSEGV"})");
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (complete && upload.running() == 0) loop.quit();
    });
    poll.start(5);
    QTimer::singleShot(20'000, &loop, &QEventLoop::quit);
    loop.exec();
    ASSERT_TRUE(complete);
    EXPECT_EQ(upload.running(), 0);
    EXPECT_TRUE(request.startsWith("POST /api/crash HTTP/1.1\r\n")) << request.toStdString();
    EXPECT_TRUE(request.toLower().contains("content-type: application/json\r\n")) << request.toStdString();
    EXPECT_TRUE(request.endsWith("\r\n\r\n{\"summary\":\"SIGSEGV\"}")) << request.toStdString();
}

}  // namespace
}  // namespace crestline
