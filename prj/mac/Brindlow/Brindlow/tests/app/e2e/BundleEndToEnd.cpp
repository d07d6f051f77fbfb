// The built Brindlow.app as a user runs it, in an X server of its own: the program from the
// bundle, trayer as the system tray (or no tray at all), clicks and keys through xdotool, and
// screenshots of the screen (ImageMagick's import) kept as artifacts in the build folder. The
// home folder, the applications folder and the daemon's port are temporary.
#include <gtest/gtest.h>

#include <QImage>
#include <QSet>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "PkiCache.h"
#include "ShellTestSupport.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace brindlow::apptest;

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
    int centerX() const { return x + width / 2; }
    int centerY() const { return y + height / 2; }
};

struct Window {
    std::string id;
    std::string name;
    Rect frame;
    bool overrideRedirect = false;
};

// The standard output of a shell command line.
std::string capture(const std::string& commandLine) {
    std::string out;
    if (FILE* pipe = popen(commandLine.c_str(), "r")) {
        char chunk[4096];
        size_t n;
        while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
        pclose(pipe);
    }
    return out;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The mapped windows of the application (WM_CLASS class "Brindlow"), top-level or embedded.
std::vector<Window> applicationWindows() {
    std::vector<Window> out;
    for (const std::string& id :
         lines(capture("xdotool search --onlyvisible --class '^Brindlow$' 2>/dev/null"))) {
        if (id.empty()) continue;
        Window w;
        w.id = id;
        w.name = capture("xdotool getwindowname " + id + " 2>/dev/null");
        if (!w.name.empty() && w.name.back() == '\n') w.name.pop_back();
        for (const std::string& line : lines(capture("xwininfo -id " + id + " 2>/dev/null"))) {
            int value = 0;
            if (std::sscanf(line.c_str(), " Absolute upper-left X: %d", &value) == 1)
                w.frame.x = value;
            else if (std::sscanf(line.c_str(), " Absolute upper-left Y: %d", &value) == 1)
                w.frame.y = value;
            else if (std::sscanf(line.c_str(), " Width: %d", &value) == 1)
                w.frame.width = value;
            else if (std::sscanf(line.c_str(), " Height: %d", &value) == 1)
                w.frame.height = value;
            else if (contains(line, "Override Redirect State: yes"))
                w.overrideRedirect = true;
        }
        out.push_back(w);
    }
    return out;
}

// The application's popup menu: an override-redirect window of the menu's size.
std::optional<Window> openMenu() {
    for (const Window& w : applicationWindows())
        if (w.overrideRedirect && w.frame.height >= 80 && w.frame.width >= 60) return w;
    return std::nullopt;
}

std::optional<Window> windowNamed(const std::string& name) {
    for (const Window& w : applicationWindows())
        if (!w.overrideRedirect && w.name == name) return w;
    return std::nullopt;
}

// The padlock window that stands in for the tray: named "Brindlow" and small.
std::optional<Window> fallbackWindow() {
    for (const Window& w : applicationWindows())
        if (!w.overrideRedirect && w.name == "Brindlow" && w.frame.width < 200 &&
            w.frame.height < 200)
            return w;
    return std::nullopt;
}

// The geometry of a line of "xwininfo -tree": "<w>x<h>+<x>+<y>  +<absolute x>+<absolute y>".
std::optional<Rect> treeGeometry(const std::string& line) {
    for (size_t at = line.find('x'); at != std::string::npos; at = line.find('x', at + 1)) {
        size_t start = at;
        while (start > 0 && std::isdigit(static_cast<unsigned char>(line[start - 1]))) --start;
        Rect r;
        int relX = 0, relY = 0;
        if (start == at || std::sscanf(line.c_str() + start, "%dx%d%d%d +%d+%d", &r.width,
                                       &r.height, &relX, &relY, &r.x, &r.y) != 6)
            continue;
        return r;
    }
    return std::nullopt;
}

bool inside(const Rect& inner, const Rect& outer) {
    return inner.x >= outer.x && inner.y >= outer.y &&
           inner.x + inner.width <= outer.x + outer.width &&
           inner.y + inner.height <= outer.y + outer.height;
}

// The application's icon embedded in trayer's panel, from the window tree, once it can be
// clicked: mapped, and inside the panel. trayer embeds an icon before it grows and moves the
// panel around it, so at first the icon hangs off the old, narrower panel.
std::optional<Rect> trayIcon() {
    const std::vector<std::string> tree = lines(capture("xwininfo -root -tree 2>/dev/null"));
    auto indent = [](const std::string& line) { return line.find_first_not_of(' '); };
    for (size_t i = 0; i < tree.size(); ++i) {
        if (!contains(tree[i], "(\"panel\" \"trayer\")")) continue;
        const std::optional<Rect> panel = treeGeometry(tree[i]);
        if (!panel) continue;
        for (size_t j = i + 1; j < tree.size() && indent(tree[j]) > indent(tree[i]); ++j) {
            // WM_CLASS (instance, class): the class is the application's name.
            if (!contains(tree[j], "\" \"Brindlow\")")) continue;
            const std::optional<Rect> r = treeGeometry(tree[j]);
            if (!r || r->width <= 1 || r->height <= 1 || !inside(*r, *panel)) continue;
            std::string id;
            std::istringstream(tree[j]) >> id;
            if (contains(capture("xwininfo -id " + id + " 2>/dev/null"), "Map State: IsViewable"))
                return r;
        }
    }
    return std::nullopt;
}

// Without --sync: it waits out a long time-out when the pointer is already there. The X server
// takes the move before the click all the same.
void click(int x, int y, int button) {
    ASSERT_TRUE(runCommand("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) +
                           " click " + std::to_string(button)));
}

void keys(const std::string& names) {
    ASSERT_TRUE(runCommand("xdotool key --delay 100 " + names));
}

// A process started with posix_spawn, its output in files; killed if still running at the end.
class Process {
  public:
    ~Process() { stop(); }

    bool start(const std::vector<std::string>& argv, const std::vector<std::string>& overrides,
               const std::string& outputPrefix) {
        outPath_ = outputPrefix + ".stdout";
        errPath_ = outputPrefix + ".stderr";
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            bool replaced = false;
            for (const std::string& o : overrides)
                if (entry.compare(0, o.find('=') + 1, o, 0, o.find('=') + 1) == 0) replaced = true;
            if (!replaced) env.push_back(entry);
        }
        env.insert(env.end(), overrides.begin(), overrides.end());
        std::vector<char*> args, envp;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outPath_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int rc = posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) pid_ = -1;
        return rc == 0;
    }

    pid_t pid() const { return pid_; }

    bool running() {
        if (pid_ <= 0 || status_) return false;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
        return !status_;
    }

    // The wait status once the process has ended within timeout.
    std::optional<int> waitExit(std::chrono::milliseconds timeout) {
        waitUntil([&] { return !running(); }, timeout);
        return status_;
    }

    void stop(int signal = SIGKILL) {
        if (!running()) return;
        kill(pid_, signal);
        waitExit(10s);
    }

    std::string output() const { return readFile(outPath_); }
    std::string errors() const { return readFile(errPath_); }
    std::string report() const {
        return "--- stdout ---\n" + output() + "\n--- stderr ---\n" + errors();
    }

  private:
    pid_t pid_ = -1;
    std::optional<int> status_;
    std::string outPath_, errPath_;
};

bool exitedCleanly(const std::optional<int>& status) {
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

int distinctColours(const QImage& image, const Rect& r) {
    QSet<QRgb> colours;
    for (int y = std::max(0, r.y); y < std::min(image.height(), r.y + r.height); y += 2)
        for (int x = std::max(0, r.x); x < std::min(image.width(), r.x + r.width); x += 2)
            colours.insert(image.pixel(x, y));
    return colours.size();
}

class BundleEndToEnd : public testing::Test {
  protected:
    void SetUp() override {
        if (const char* why = std::getenv("BRINDLOW_E2E_SKIP")) GTEST_SKIP() << why;
        for (const char* tool : {"xdotool", "xwininfo", "import", "trayer"})
            if (!runCommand(std::string("command -v ") + tool + " > /dev/null 2>&1"))
                GTEST_SKIP() << tool << " is not installed";
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X server: run through run_under_x.sh";
        folders_ = makeAppFolders(withWatchedBundle());
        ASSERT_FALSE(folders_.root.empty()) << "cannot build the test home folder";
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        artifactPrefix_ = std::string(BRINDLOW_E2E_ARTIFACTS) + "/" + info->name();
    }

    void TearDown() override {
        app_.stop();
        trayer_.stop(SIGTERM);
        removeFolders(folders_);
    }

    virtual bool withWatchedBundle() const { return true; }

    void startTrayer() {
        ASSERT_TRUE(trayer_.start({"trayer", "--align", "right", "--edge", "top", "--widthtype",
                                   "request", "--height", "24", "--transparent", "false"},
                                  {}, artifactPrefix_ + "-trayer"));
        ASSERT_TRUE(waitUntil(
            [] {
                return !capture("xdotool search --onlyvisible --classname '^panel$' 2>/dev/null")
                            .empty();
            },
            30s))
            << "trayer shows no panel\n"
            << trayer_.report();
    }

    void startApp(const std::string& bundle = BRINDLOW_APP_BUNDLE) {
        std::vector<std::string> environment = {
            "HOME=" + folders_.home, "BRINDLOW_APPLICATIONS=" + folders_.applications,
            "BRINDLOW_VOLUMES=" + folders_.volumes, "QT_QPA_PLATFORM=xcb"};
        // The X platform's libraries keep allocations to the end; the project's suppressions
        // name them, also when the caller gave no leak options.
        if (!std::getenv("LSAN_OPTIONS"))
            environment.push_back("LSAN_OPTIONS=suppressions=" BRINDLOW_LSAN_SUPPRESSIONS);
        ASSERT_TRUE(app_.start({bundle + "/Contents/MacOS/Brindlow"}, environment,
                               artifactPrefix_ + "-app"));
    }

    // A screenshot of the whole screen into the artifacts folder, taken again until the region
    // shows more than a flat colour (a window is mapped before it is painted).
    void screenshot(const std::string& name, const Rect& region) {
        const std::string path = artifactPrefix_ + "-" + name;
        QImage image;
        int colours = 0;
        waitUntil(
            [&] {
                if (!runCommand("import -window root '" + path + "'")) return false;
                image = QImage(QString::fromStdString(path));
                colours = image.isNull() ? 0 : distinctColours(image, region);
                return colours > 3;
            },
            10s);
        ASSERT_FALSE(image.isNull()) << path;
        EXPECT_EQ(image.size(), QSize(1280, 1024)) << path;
        EXPECT_GT(colours, 3) << path << " shows nothing in the region";
    }

    // Opens the menu with a click at a point and waits for it.
    std::optional<Window> openMenuAt(int x, int y, int button) {
        click(x, y, button);
        std::optional<Window> menu;
        waitUntil([&] { return (menu = openMenu()).has_value(); }, 10s);
        return menu;
    }

    // Opens the menu with a click on the tray icon where it is at that moment.
    std::optional<Window> openTrayMenu(int button) {
        std::optional<Rect> icon;
        if (!waitUntil([&] { return (icon = trayIcon()).has_value(); }, 30s)) {
            ADD_FAILURE() << "no icon in the tray\n" << capture("xwininfo -root -tree");
            return std::nullopt;
        }
        return openMenuAt(icon->centerX(), icon->centerY(), button);
    }

    void expectServiceAnswers(const std::string& text) {
        std::string reply;
        EXPECT_TRUE(waitUntil(
            [&] { return (reply = askService(folders_.port, "ECHO " + text)) == text; }, 30s))
            << "last reply: '" << reply << "'\n"
            << app_.report();
    }

    // The lines of the daemon-start thread in their order, and the clean-up thread's first line
    // when it has run.
    void expectBackgroundLines(bool cleanUpRan) {
        const std::string out = app_.output();
        size_t at = 0;
        for (const char* line : {"process start .... ok", "LoggerManagerMac\n", "pthread_create\n",
                                 "\n Thread created successfully\n"}) {
            const size_t found = out.find(line, at);
            EXPECT_NE(found, std::string::npos) << "no '" << line << "' in order\n" << out;
            if (found != std::string::npos) at = found;
        }
        if (cleanUpRan) {
            EXPECT_TRUE(contains(out, "스레드 실행 중\n")) << out;
        }
    }

    AppFolders folders_;
    std::string artifactPrefix_;
    Process app_;
    Process trayer_;
};

TEST_F(BundleEndToEnd, TrayMenuOpensTheManagerAndQuits) {
    startTrayer();
    startApp();
    ASSERT_TRUE(waitUntil([&] { return trayIcon().has_value(); }, 30s))
        << "no icon in the tray\n"
        << capture("xwininfo -root -tree") << app_.report();
    EXPECT_FALSE(fallbackWindow().has_value());
    expectServiceAnswers("tray");
    EXPECT_TRUE(waitUntil([&] { return !exists(folders_.oldMonth); }, 20s));
    EXPECT_TRUE(exists(folders_.currentMonth));

    // A left click opens the menu; a screenshot of it.
    std::optional<Window> menu = openTrayMenu(1);
    ASSERT_TRUE(menu) << app_.report();
    screenshot("tray-menu.png", menu->frame);
    keys("Escape");
    ASSERT_TRUE(waitUntil([] { return !openMenu(); }, 10s));

    // A right click opens the same menu; its second item opens the certificate manager.
    ASSERT_TRUE(openTrayMenu(3)) << app_.report();
    keys("Down Down Return");
    std::optional<Window> manager;
    ASSERT_TRUE(
        waitUntil([&] { return (manager = windowNamed("인증서 관리자")).has_value(); }, 15s))
        << app_.report();
    screenshot("cert-manager.png", manager->frame);

    // Three steps down pass over the two disabled items and reach "종료".
    ASSERT_TRUE(openTrayMenu(1)) << app_.report();
    keys("Down Down Down Return");
    const auto status = app_.waitExit(30s);
    EXPECT_TRUE(exitedCleanly(status)) << app_.report();
    expectBackgroundLines(true);
}

TEST_F(BundleEndToEnd, FallbackWindowOpensTheSameMenuWithoutATray) {
    startApp();
    std::optional<Window> padlock;
    ASSERT_TRUE(waitUntil([&] { return (padlock = fallbackWindow()).has_value(); }, 30s))
        << app_.report();
    EXPECT_FALSE(trayIcon().has_value());
    screenshot("fallback-window.png", padlock->frame);

    std::optional<Window> menu = openMenuAt(padlock->frame.centerX(), padlock->frame.centerY(), 1);
    ASSERT_TRUE(menu) << app_.report();
    screenshot("fallback-menu.png", menu->frame);
    keys("Down Down Return");
    ASSERT_TRUE(waitUntil([&] { return windowNamed("인증서 관리자").has_value(); }, 15s))
        << app_.report();

    ASSERT_TRUE(openMenuAt(padlock->frame.centerX(), padlock->frame.centerY(), 1));
    keys("Down Down Down Return");
    EXPECT_TRUE(exitedCleanly(app_.waitExit(30s))) << app_.report();
}

TEST_F(BundleEndToEnd, RemovingTheBundleEndsItWithAnAlertOpenButSigtermDoesNot) {
    startApp();
    std::optional<Window> padlock;
    ASSERT_TRUE(waitUntil([&] { return (padlock = fallbackWindow()).has_value(); }, 30s))
        << app_.report();
    expectServiceAnswers("before");

    // The daemon host only records SIGTERM.
    ASSERT_EQ(kill(app_.pid(), SIGTERM), 0);
    EXPECT_FALSE(waitUntil([&] { return !app_.running(); }, 1500ms)) << app_.report();
    expectServiceAnswers("after");

    // The about alert, modal, stays up while the bundle goes.
    ASSERT_TRUE(openMenuAt(padlock->frame.centerX(), padlock->frame.centerY(), 1));
    keys("Down Return");
    std::optional<Window> alert;
    ASSERT_TRUE(waitUntil(
        [&] {
            for (const Window& w : applicationWindows())
                if (!w.overrideRedirect && w.id != padlock->id && w.frame.width > 100)
                    return (alert = w).has_value();
            return false;
        },
        10s))
        << app_.report();
    screenshot("about-alert.png", alert->frame);

    fs::remove_all(folders_.watched);
    const auto removed = std::chrono::steady_clock::now();
    // The windows go when the event loops end; the exit that follows also holds the sanitizers'
    // checks, whose time says nothing about the watch.
    EXPECT_TRUE(waitUntil([] { return applicationWindows().empty(); }, 10s)) << app_.report();
    const auto took = std::chrono::steady_clock::now() - removed;
    const auto status = app_.waitExit(30s);
    EXPECT_TRUE(exitedCleanly(status)) << app_.report();
    // One watch interval of 3.0 seconds, and the way to the main thread.
    EXPECT_LT(took, 5s);
}

TEST_F(BundleEndToEnd, RunsOnWithoutTheModule) {
    // The same bundle without TovelSecurityService.bundle among its resources.
    const std::string bundle = folders_.root + "/build/Brindlow.app";
    const fs::path source(BRINDLOW_APP_BUNDLE);
    fs::create_directories(bundle + "/Contents/MacOS");
    fs::copy_file(source / "Contents/MacOS/Brindlow", bundle + "/Contents/MacOS/Brindlow");
    fs::create_directories(bundle + "/Contents/Resources");
    for (const auto& entry : fs::directory_iterator(source / "Contents/Resources"))
        if (entry.is_regular_file())
            fs::copy_file(entry.path(),
                          bundle + "/Contents/Resources/" + entry.path().filename().string());
    ASSERT_FALSE(exists(bundle + "/Contents/Resources/TovelSecurityService.bundle"));

    startApp(bundle);
    std::optional<Window> padlock;
    ASSERT_TRUE(waitUntil([&] { return (padlock = fallbackWindow()).has_value(); }, 30s))
        << app_.report();
    // The daemon start came back and the thread went on to the log clean-up.
    ASSERT_TRUE(waitUntil([&] { return contains(app_.output(), "스레드 실행 중"); }, 30s))
        << app_.report();
    EXPECT_TRUE(waitUntil([&] { return !exists(folders_.oldMonth); }, 20s));
    // No module: nothing answers a request.
    EXPECT_EQ(askService(folders_.port, "ECHO nobody", 1000), "");

    ASSERT_TRUE(openMenuAt(padlock->frame.centerX(), padlock->frame.centerY(), 1));
    keys("Down Down Return");
    ASSERT_TRUE(waitUntil([&] { return windowNamed("인증서 관리자").has_value(); }, 15s))
        << app_.report();
    ASSERT_TRUE(openMenuAt(padlock->frame.centerX(), padlock->frame.centerY(), 1));
    keys("Down Down Down Return");
    EXPECT_TRUE(exitedCleanly(app_.waitExit(30s))) << app_.report();
}

class BundleEndToEndNotInstalled : public BundleEndToEnd {
  protected:
    bool withWatchedBundle() const override { return false; }
};

TEST_F(BundleEndToEndNotInstalled, EndsAtTheFirstWatchAfterTheStart) {
    startApp();
    const auto status = app_.waitExit(30s);
    EXPECT_TRUE(exitedCleanly(status)) << app_.report();
    // The first check comes after the daemon host start and the log thread's start.
    expectBackgroundLines(false);
}

// ---- The password change in the bundle ------------------------------------------------------

// Where the manager window's first row and its password button are: the rows start below the
// two medium buttons and the table's header; the six action buttons share the bottom row.
constexpr int kFirstRowX = 150;
constexpr int kFirstRowY = 125;
constexpr int kButtonRowFromBottom = 23;
// The dialog's three fields, from its top.
constexpr int kFirstFieldY = 22;
constexpr int kFieldStep = 28;
// The first row of a medium sheet, from its top.
constexpr int kSheetFirstRowY = 55;

// A mapped window of the application that is none of the known ones (an alert, a dialog).
std::optional<Window> otherWindow(const std::vector<std::string>& known) {
    for (const Window& w : applicationWindows())
        if (!w.overrideRedirect && w.frame.width > 100 &&
            std::find(known.begin(), known.end(), w.id) == known.end())
            return w;
    return std::nullopt;
}

// Whether openssl opens the key file with the password into the certificate's key.
bool opensWithCertificateKey(const std::string& keyFile, const std::string& password,
                             const std::string& certificate) {
    const std::string key =
        capture("openssl pkcs8 -inform DER -in '" + keyFile + "' -passin 'pass:" + password +
                "' -provider legacy -provider default 2>/dev/null | openssl pkey -pubout "
                "2>/dev/null");
    return !key.empty() &&
           key == capture("openssl x509 -inform DER -noout -pubkey -in '" + certificate + "'");
}

TEST_F(BundleEndToEnd, ChangesACertificatesPasswordWithTheKeyboard) {
    startApp();
    std::optional<Window> padlock;
    ASSERT_TRUE(waitUntil([&] { return (padlock = fallbackWindow()).has_value(); }, 30s))
        << app_.report();
    ASSERT_TRUE(openMenuAt(padlock->frame.centerX(), padlock->frame.centerY(), 1));
    keys("Down Down Return");
    std::optional<Window> manager;
    ASSERT_TRUE(
        waitUntil([&] { return (manager = windowNamed("인증서 관리자")).has_value(); }, 15s))
        << app_.report();
    const std::string holder =
        folders_.home + "/Library/Preferences/NPKI/yessign/USER/cn=hong,o=yessign,c=kr";
    const std::string keyFile = holder + "/signPri.key", certificate = holder + "/signCert.der";
    const std::string before = readFile(keyFile);
    ASSERT_FALSE(before.empty());

    // The first row (the yessign certificate), then the password button of the bottom row.
    click(manager->frame.x + kFirstRowX, manager->frame.y + kFirstRowY, 1);
    click(manager->frame.x + manager->frame.width * 7 / 12,
          manager->frame.y + manager->frame.height - kButtonRowFromBottom, 1);
    std::optional<Window> dialog;
    ASSERT_TRUE(
        waitUntil([&] { return (dialog = windowNamed("인증서 암호 변경")).has_value(); }, 15s))
        << app_.report();
    screenshot("password-dialog.png", dialog->frame);

    // Each field is clicked before it is typed into: without a window manager the keyboard
    // focus does not come back to the dialog by itself once an alert is gone. The three fields
    // are the rows of the dialog's right column; an alert's Return is its one button.
    const std::vector<std::string> known = {padlock->id, manager->id, dialog->id};
    auto fill = [&](int row, const std::string& text) {
        click(dialog->frame.x + dialog->frame.width * 2 / 3,
              dialog->frame.y + kFirstFieldY + row * kFieldStep, 1);
        keys("ctrl+a BackSpace");
        ASSERT_TRUE(runCommand("xdotool type --delay 30 '" + text + "'"));
    };
    // Confirms the three entries with Return; the notice shown, answered with Return.
    auto enter = [&](const std::string& current, const std::string& fresh, const char* picture) {
        fill(0, current);
        fill(1, fresh);
        fill(2, fresh);
        keys("Return");
        std::optional<Window> alert;
        ASSERT_TRUE(waitUntil([&] { return (alert = otherWindow(known)).has_value(); }, 30s))
            << app_.report();
        screenshot(picture, alert->frame);
        keys("Return");
        ASSERT_TRUE(waitUntil([&] { return !otherWindow(known).has_value(); }, 15s));
    };
    // A wrong current password is refused and the dialog stays.
    enter("Wrong#pass123", "Newpass#5678", "password-refused.png");
    EXPECT_TRUE(windowNamed("인증서 암호 변경").has_value());
    EXPECT_EQ(readFile(keyFile), before);

    // The right one changes the key; only that notice ends the dialog.
    enter("Brindlow#1234", "Newpass#5678", "password-changed.png");
    EXPECT_TRUE(waitUntil([&] { return !windowNamed("인증서 암호 변경").has_value(); }, 15s))
        << app_.report();
    EXPECT_TRUE(opensWithCertificateKey(keyFile, "Newpass#5678", certificate));
    EXPECT_FALSE(opensWithCertificateKey(keyFile, "Brindlow#1234", certificate));

    ASSERT_TRUE(openMenuAt(padlock->frame.centerX(), padlock->frame.centerY(), 1));
    keys("Down Down Down Return");
    EXPECT_TRUE(exitedCleanly(app_.waitExit(30s))) << app_.report();
}

// ---- Copying and deleting in the bundle --------------------------------------------------------

TEST_F(BundleEndToEnd, CopiesAndDeletesACertificateWithTheMouseAndKeyboard) {
    // A removable disk without certificates, mounted before the start.
    const std::string volume = folders_.volumes + "/EMPTYVOL";
    fs::create_directories(volume);
    startApp();
    std::optional<Window> padlock;
    ASSERT_TRUE(waitUntil([&] { return (padlock = fallbackWindow()).has_value(); }, 30s))
        << app_.report();
    ASSERT_TRUE(openMenuAt(padlock->frame.centerX(), padlock->frame.centerY(), 1));
    keys("Down Down Return");
    std::optional<Window> manager;
    ASSERT_TRUE(
        waitUntil([&] { return (manager = windowNamed("인증서 관리자")).has_value(); }, 15s))
        << app_.report();
    const std::string holder =
        folders_.home + "/Library/Preferences/NPKI/yessign/USER/cn=hong,o=yessign,c=kr";
    const std::vector<std::string> known = {padlock->id, manager->id};
    // The first row, then a button of the bottom row (six buttons: the n-th from the left).
    auto press = [&](int button) {
        click(manager->frame.x + kFirstRowX, manager->frame.y + kFirstRowY, 1);
        click(manager->frame.x + manager->frame.width * (2 * button - 1) / 12,
              manager->frame.y + manager->frame.height - kButtonRowFromBottom, 1);
    };
    // The alert that comes up, answered with a key once photographed.
    auto answerAlert = [&](const char* key, const char* picture) {
        std::optional<Window> alert;
        ASSERT_TRUE(waitUntil([&] { return (alert = otherWindow(known)).has_value(); }, 30s))
            << app_.report();
        screenshot(picture, alert->frame);
        const std::string id = alert->id;
        keys(key);
        ASSERT_TRUE(waitUntil(
            [&] {
                for (const Window& w : applicationWindows())
                    if (w.id == id) return false;
                return true;
            },
            15s));
    };
    // The copy sheet's one row chosen with the keyboard, the password typed into the prompt.
    auto copyWith = [&](const std::string& password, const char* picture) {
        press(3);
        std::optional<Window> sheet;
        ASSERT_TRUE(
            waitUntil([&] { return (sheet = windowNamed("복사할 매체 선택")).has_value(); }, 15s))
            << app_.report();
        // The one row lies below the sheet's prompt line.
        click(sheet->frame.centerX(), sheet->frame.y + kSheetFirstRowY, 1);
        screenshot("copy-sheet.png", sheet->frame);
        keys("Return");
        std::optional<Window> prompt;
        ASSERT_TRUE(
            waitUntil([&] { return (prompt = windowNamed("인증서 암호 입력")).has_value(); }, 15s))
            << app_.report();
        click(prompt->frame.centerX(), prompt->frame.centerY(), 1);
        ASSERT_TRUE(runCommand("xdotool type --delay 30 '" + password + "'"));
        keys("Return");
        ASSERT_TRUE(waitUntil([&] { return !windowNamed("인증서 암호 입력").has_value(); }, 15s));
        answerAlert("Return", picture);
    };

    // A wrong password leaves the volume empty; the right one copies both files.
    copyWith("Wrong#pass123", "copy-refused.png");
    EXPECT_TRUE(fs::is_empty(volume));
    copyWith("Brindlow#1234", "copy-done.png");
    std::string copied;
    for (const auto& entry : fs::recursive_directory_iterator(volume))
        if (entry.path().filename() == "signCert.der") copied = entry.path().parent_path();
    ASSERT_FALSE(copied.empty()) << app_.report();
    EXPECT_EQ(readFile(copied + "/signCert.der"), readFile(holder + "/signCert.der"));
    EXPECT_TRUE(opensWithCertificateKey(copied + "/signPri.key", "Brindlow#1234",
                                        copied + "/signCert.der"));

    // Delete: Escape is "취소", Return "확인"; each brings its notice.
    press(2);
    answerAlert("Escape", "delete-asked.png");
    answerAlert("Return", "delete-cancelled.png");
    EXPECT_TRUE(exists(holder + "/signCert.der"));
    press(2);
    answerAlert("Return", "delete-asked-again.png");
    answerAlert("Return", "delete-done.png");
    EXPECT_FALSE(exists(holder));
    EXPECT_TRUE(exists(copied + "/signCert.der"));

    ASSERT_TRUE(openMenuAt(padlock->frame.centerX(), padlock->frame.centerY(), 1));
    keys("Down Down Down Return");
    EXPECT_TRUE(exitedCleanly(app_.waitExit(30s))) << app_.report();
}

// ---- PKCS #12 import and export in the bundle --------------------------------------------------

TEST_F(BundleEndToEnd, ImportsAndExportsPkcs12FilesWithTheKeyboard) {
    const fs::path kit = testkit::cachedPki("pkcs12");
    ASSERT_FALSE(kit.empty()) << "the kit's PKCS #12 files were not made";
    startApp();
    std::optional<Window> padlock;
    ASSERT_TRUE(waitUntil([&] { return (padlock = fallbackWindow()).has_value(); }, 30s))
        << app_.report();
    ASSERT_TRUE(openMenuAt(padlock->frame.centerX(), padlock->frame.centerY(), 1));
    keys("Down Down Return");
    std::optional<Window> manager;
    ASSERT_TRUE(
        waitUntil([&] { return (manager = windowNamed("인증서 관리자")).has_value(); }, 15s))
        << app_.report();
    const std::string npki = folders_.home + "/Library/Preferences/NPKI";
    const std::string hong = npki + "/yessign/USER/cn=hong,o=yessign,c=kr";
    auto holders = [&] {
        std::vector<std::string> out;
        for (const auto& entry : fs::recursive_directory_iterator(npki))
            if (entry.path().filename() == "signCert.der")
                out.push_back(entry.path().parent_path().string());
        std::sort(out.begin(), out.end());
        return out;
    };
    const auto before = holders();
    std::vector<std::string> known = {padlock->id, manager->id};
    auto press = [&](int button) {
        click(manager->frame.x + kFirstRowX, manager->frame.y + kFirstRowY, 1);
        click(manager->frame.x + manager->frame.width * (2 * button - 1) / 12,
              manager->frame.y + manager->frame.height - kButtonRowFromBottom, 1);
    };
    auto answerAlert = [&](const char* picture) {
        std::optional<Window> alert;
        ASSERT_TRUE(waitUntil([&] { return (alert = otherWindow(known)).has_value(); }, 30s))
            << app_.report();
        screenshot(picture, alert->frame);
        const std::string id = alert->id;
        keys("Return");
        ASSERT_TRUE(waitUntil(
            [&] {
                for (const Window& w : applicationWindows())
                    if (w.id == id) return false;
                return true;
            },
            15s));
    };

    // Import: the path picked in the real file dialog (typed, then Return), the file's password
    // kept for the keys with "same password".
    press(5);
    std::optional<Window> dialog;
    ASSERT_TRUE(
        waitUntil([&] { return (dialog = windowNamed("인증서 가져오기")).has_value(); }, 15s))
        << app_.report();
    known.push_back(dialog->id);
    click(dialog->frame.x + dialog->frame.width / 2, dialog->frame.y + kFirstFieldY, 1);
    keys("Tab space");
    std::optional<Window> panel;
    ASSERT_TRUE(waitUntil([&] { return (panel = otherWindow(known)).has_value(); }, 15s))
        << app_.report();
    ASSERT_TRUE(runCommand("xdotool windowfocus " + panel->id));
    ASSERT_TRUE(runCommand("xdotool type --delay 30 '" + (kit / "kr-a.p12").string() + "'"));
    screenshot("import-typed-path.png", panel->frame);
    keys("Return");
    const std::string panelId = panel->id;
    ASSERT_TRUE(waitUntil(
        [&] {
            for (const Window& w : applicationWindows())
                if (w.id == panelId) return false;
            return true;
        },
        15s))
        << app_.report();
    // A click on the path's label gives the dialog the keyboard again; its focus is still on
    // the button, and the file's password field is next.
    click(dialog->frame.x + 20, dialog->frame.y + kFirstFieldY, 1);
    keys("Tab");
    ASSERT_TRUE(runCommand("xdotool type --delay 30 'q1w2e3r4!@'"));
    keys("Tab space");
    screenshot("import-dialog.png", dialog->frame);
    keys("Return");
    answerAlert("import-done.png");
    ASSERT_TRUE(waitUntil([&] { return !windowNamed("인증서 가져오기").has_value(); }, 15s));
    known.pop_back();
    const auto after = holders();
    ASSERT_EQ(after.size(), before.size() + 1) << app_.report();
    std::string imported;
    for (const std::string& folder : after)
        if (std::find(before.begin(), before.end(), folder) == before.end()) imported = folder;
    EXPECT_EQ(readFile(imported + "/signCert.der"), readFile((kit / "kr/sign.der").string()));
    EXPECT_TRUE(opensWithCertificateKey(imported + "/signPri.key", "q1w2e3r4!@",
                                        imported + "/signCert.der"));

    // Export of the first row to the default path: the common name in the home folder (this
    // home has no desktop folder), under the certificate's own password.
    press(6);
    ASSERT_TRUE(
        waitUntil([&] { return (dialog = windowNamed("인증서 내보내기")).has_value(); }, 15s))
        << app_.report();
    known.push_back(dialog->id);
    click(dialog->frame.x + dialog->frame.width * 2 / 3, dialog->frame.y + kFirstFieldY, 1);
    ASSERT_TRUE(runCommand("xdotool type --delay 30 'Brindlow#1234'"));
    keys("Tab space");
    screenshot("export-dialog.png", dialog->frame);
    keys("Return");
    answerAlert("export-done.png");
    const std::string file = folders_.home + "/홍길동()0011.pfx";
    ASSERT_TRUE(exists(file)) << app_.report();
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    const std::string info = capture("openssl pkcs12 -info -nodes -in '" + file +
                                     "' -passin 'pass:Brindlow#1234' 2>/dev/null");
    EXPECT_TRUE(contains(info, "BEGIN PRIVATE KEY")) << info;
    const std::string certificate =
        capture("openssl x509 -inform DER -in '" + hong + "/signCert.der'");
    EXPECT_TRUE(!certificate.empty() && contains(info, certificate)) << info;

    ASSERT_TRUE(openMenuAt(padlock->frame.centerX(), padlock->frame.centerY(), 1));
    keys("Down Down Down Return");
    EXPECT_TRUE(exitedCleanly(app_.waitExit(30s))) << app_.report();
}

}  // namespace
