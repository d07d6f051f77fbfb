// A password change under faults it cannot prevent: every system call of the change failed in
// turn by strace's fault injection, the process killed at each of them, and a real file system
// that is full or read-only. The change runs in a program of its own (token_key_change_driver);
// a refusal must leave both key files byte for byte and no temporary file, and a kill must leave
// each key file whole under one of the two passwords.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "KeyTreeSupport.h"
#include "SGPKCS5.h"
#include "SGPKCS8.h"

using namespace keytree;

namespace {

const std::string kNewPassword = "Brand#new2024pw";
const std::string kHolder = "cn=pair,o=yessign,c=kr";

bool haveStrace() {
    return testkit::succeeds("command -v strace");
}

// The driver over the medium, old password to new, its output (standard error included).
// Leak checks do not run under a tracer, so they are off for every run of the driver.
std::string driver(const Medium& medium, const std::string& prefix = "",
                   const std::string& old = kPassword) {
    const fs::path home = medium.base().parent_path() / "home";
    fs::create_directories(home);
    return testkit::run("HOME=" + testkit::quote(home.string()) + " ASAN_OPTIONS=detect_leaks=0 " +
                        prefix + " " + testkit::quote(TOKEN_KEY_CHANGE_DRIVER) + " " +
                        testkit::quote(medium.base().string()) + " " + testkit::quote(old) + " " +
                        testkit::quote(kNewPassword) + " 2>&1");
}

// The code the driver printed after "result", or -1 when it printed none (it was killed).
int resultOf(const std::string& output) {
    const size_t at = output.find("\nresult ");
    return at == std::string::npos ? -1 : std::stoi(output.substr(at + 8));
}

// Whether the password opens the key file (an EncryptedPrivateKeyInfo whose plaintext is a
// PrivateKeyInfo).
bool opensWith(const Bytes& file, const std::string& password) {
    if (file.empty()) return false;
    const SGBinary der{const_cast<unsigned char*>(file.data()), static_cast<uint32_t>(file.size())};
    SGPKCS8EncryptedPrivateKeyInfo encrypted{};
    bool opens = false;
    if (SGPKCS8EncryptedPrivateKeyInfo_Decode(&encrypted, &der) == 0) {
        Bytes plain(encrypted.encryptedData.length);
        int length = 0;
        if (SGPKCS5Decrypt(plain.data(), &length, &encrypted,
                           reinterpret_cast<const unsigned char*>(password.data()),
                           static_cast<int>(password.size())) == 0) {
            SGPKCS8PrivateKeyInfo info{};
            const SGBinary plainDer{plain.data(), static_cast<uint32_t>(length)};
            opens = SGPKCS8PrivateKeyInfo_Decode(&info, &plainDer) == 0;
            SGPKCS8PrivateKeyInfo_Cleanse(&info);
        }
    }
    SGPKCS8EncryptedPrivateKeyInfo_Cleanse(&encrypted);
    return opens;
}

// One system call of the change, as a trace shows it: its name and its ordinal among the calls
// of that name (strace counts them so for when=).
struct Call {
    std::string name;
    int ordinal = 0;
    std::string line;
    bool creates = false;  // an openat that creates a file
};

// The copy of the medium's certificate to the volume folder under the password, its output.
std::string copyDriver(const Medium& medium, const std::string& volume,
                       const std::string& prefix = "") {
    return testkit::run("ASAN_OPTIONS=detect_leaks=0 " + prefix + " " +
                        testkit::quote(TOKEN_KEY_CHANGE_DRIVER) + " copy " +
                        testkit::quote(medium.base().string()) + " " + testkit::quote(volume) +
                        " " + testkit::quote(kPassword) + " 2>&1");
}

// The system calls of the change on the holder folder and its files (or anything below it),
// from a trace of a run that succeeds; run: the driver with a prefix.
std::vector<Call> changeCalls(const Medium& medium, const std::string& holder,
                              const std::string& traced,
                              const std::function<std::string(const std::string&)>& run = {}) {
    testkit::Scratch dir("trace");
    const std::string trace = (dir / "trace.txt").string();
    const std::string prefix =
        "strace -f -qq -y -e trace=" + traced + " -o " + testkit::quote(trace);
    const std::string out = run ? run(prefix) : driver(medium, prefix);
    EXPECT_EQ(resultOf(out), 0) << out;
    std::map<std::string, int> counts;
    std::vector<Call> calls;
    bool begun = false;
    std::istringstream in(testkit::readText(trace));
    for (std::string line; std::getline(in, line);) {
        // "[<pid> ]<name>(<arguments>) = <result>"
        size_t start = line.find_first_not_of("0123456789 ");
        const size_t open = line.find('(', start);
        if (start == std::string::npos || open == std::string::npos) continue;
        const std::string name = line.substr(start, open - start);
        const std::string arguments = line.substr(open + 1);
        const int ordinal = ++counts[name];
        if (line.find("change begins") != std::string::npos) begun = true;
        if (!begun) continue;
        // The holder folder or a file in it as the first argument, or the holder folder opened.
        const bool onHolder = arguments.find("<" + holder) != std::string::npos &&
                              arguments.find("<" + holder) < arguments.find(',');
        const bool opensHolder =
            name == "openat" && line.size() > holder.size() + 1 &&
            line.compare(line.size() - holder.size() - 1, holder.size() + 1, holder + ">") == 0;
        if (!onHolder && !opensHolder) continue;
        calls.push_back({name, ordinal, line, line.find("O_CREAT") != std::string::npos});
    }
    return calls;
}

// Runs fn over the items on a few threads; each item gets a medium of its own.
template <typename Item, typename Fn>
void inParallel(const std::vector<Item>& items, Fn fn) {
    std::vector<std::future<void>> running;
    const size_t width = 4;
    for (size_t start = 0; start < width; ++start)
        running.push_back(std::async(std::launch::async, [&, start] {
            for (size_t i = start; i < items.size(); i += width) fn(items[i], i);
        }));
    for (auto& r : running) r.get();
}

}  // namespace

TEST(FileTokenFaults, EveryFailedStepOfAChangeLeavesBothKeysAsTheyWere) {
    if (!haveStrace()) GTEST_SKIP() << "strace is not installed";
    ASSERT_FALSE(material().empty());
    Medium traced;
    const std::string holder = traced.npki(kHolder, npkiPair());
    const std::vector<Call> calls =
        changeCalls(traced, holder, "openat,write,fsync,rename,renameat,renameat2,linkat");
    // Read both, create and write both new files, flush them, keep both old ones, rename and
    // flush twice.
    ASSERT_GE(calls.size(), 15u);
    for (const char* name : {"openat", "write", "fsync", "linkat"})
        EXPECT_TRUE(std::any_of(calls.begin(), calls.end(), [&](const Call& c) {
            return c.name == name;
        })) << name;
    ASSERT_EQ(std::count_if(calls.begin(), calls.end(),
                            [](const Call& c) { return c.name.rfind("rename", 0) == 0; }),
              2);

    std::mutex report;
    inParallel(calls, [&](const Call& call, size_t) {
        Medium medium;
        const std::string folder = medium.npki(kHolder, npkiPair());
        const std::vector<std::string> files = keyFiles(folder);
        const std::vector<std::string> before = digests(files);
        // Without links the old files are kept as flushed copies instead, and the change goes on.
        const bool links = call.name == "linkat";
        const std::string error = links                                           ? "EPERM"
                                  : call.name == "openat" || call.name == "write" ? "ENOSPC"
                                                                                  : "EIO";
        const std::string out =
            driver(medium, "strace -f -qq -o /dev/null -e inject=" + call.name + ":error=" + error +
                               ":when=" + std::to_string(call.ordinal));
        std::lock_guard<std::mutex> lock(report);
        SCOPED_TRACE(call.line + "\n" + out);
        const int rc = resultOf(out);
        if (links) {
            EXPECT_EQ(rc, 0);
            EXPECT_TRUE(opensWith(testkit::readBytes(files[0]), kNewPassword));
            EXPECT_TRUE(opensWith(testkit::readBytes(files[1]), kNewPassword));
        } else {
            // Creating, writing, flushing or renaming a file is a failed write; opening the
            // folder or a key to read it again is a failed read.
            const bool write = call.name != "openat" || call.creates;
            EXPECT_EQ(rc, write ? 1341 : 1340);
            EXPECT_EQ(digests(files), before);
        }
        EXPECT_TRUE(strayFiles(folder).empty());
    });
}

TEST(FileTokenFaults, AKillAtAnyStepLeavesEachKeyWholeAndRepeatingTheChangeCompletesIt) {
    if (!haveStrace()) GTEST_SKIP() << "strace is not installed";
    ASSERT_FALSE(material().empty());
    Medium traced;
    const std::string holder = traced.npki(kHolder, npkiPair());
    const std::vector<Call> calls =
        changeCalls(traced, holder, "openat,write,fsync,rename,renameat,renameat2,linkat,unlinkat");
    ASSERT_GE(calls.size(), 17u);
    std::vector<size_t> renames;
    for (size_t i = 0; i < calls.size(); ++i)
        if (calls[i].name.rfind("rename", 0) == 0) renames.push_back(i);
    ASSERT_EQ(renames.size(), 2u);

    std::mutex report;
    inParallel(calls, [&](const Call& call, size_t index) {
        Medium medium;
        const std::string folder = medium.npki(kHolder, npkiPair());
        const std::vector<std::string> files = keyFiles(folder);
        // The call is not made: the process dies on entering it.
        const std::string killed =
            driver(medium, "strace -f -qq -o /dev/null -e inject=" + call.name +
                               ":error=EIO:signal=SIGKILL:when=" + std::to_string(call.ordinal));
        std::vector<bool> opensNew;
        bool whole = true;
        for (const std::string& f : files) {
            const Bytes bytes = testkit::readBytes(f);
            const bool fresh = opensWith(bytes, kNewPassword);
            whole = whole && (fresh || opensWith(bytes, kPassword));
            opensNew.push_back(fresh);
        }
        const std::string repeated = driver(medium);
        std::lock_guard<std::mutex> lock(report);
        SCOPED_TRACE(call.line + "\n" + killed + "\n" + repeated);
        EXPECT_EQ(resultOf(killed), -1);
        EXPECT_TRUE(whole);
        // Only a kill after the first rename and before the second leaves the two apart.
        const bool between = index > renames[0] && index <= renames[1];
        EXPECT_EQ(opensNew[0] != opensNew[1], between);
        // What a crash leaves behind is never listed as a key, and the change goes through
        // when repeated (there is nothing left to do once both are new).
        EXPECT_NE(repeated.find("listed 1\n"), std::string::npos);
        EXPECT_EQ(resultOf(repeated), opensNew[0] && opensNew[1] ? 1328 : 0);
        for (const std::string& f : files)
            EXPECT_TRUE(opensWith(testkit::readBytes(f), kNewPassword)) << f;
    });
}

TEST(FileTokenFaults, AFullOrReadOnlyFileSystemRefusesTheChange) {
    ASSERT_FALSE(material().empty());
    if (!testkit::succeeds("unshare -m true"))
        GTEST_SKIP() << "no mount namespace can be made here (unshare -m is refused)";
    for (const std::string state : {"full", "read-only"}) {
        SCOPED_TRACE(state);
        Medium medium;
        const std::string folder = medium.npki(kHolder, npkiPair());
        testkit::Scratch pristine("pristine");
        ASSERT_TRUE(testkit::succeeds("cp -p " + testkit::quote(folder) + "/* " +
                                      testkit::quote(pristine.str())));
        // The holder folder becomes a small tmpfs of its own holding the same files, filled up
        // or remounted read-only, in a mount namespace that ends with the shell.
        const std::string script =
            "set -e; m=$1; p=$2; s=$3; shift 3; "
            "mount -t tmpfs -o size=64k,mode=0755 tmpfs \"$m\"; cp -p \"$p\"/* \"$m\"/; "
            "if [ \"$s\" = full ]; then dd if=/dev/zero of=\"$m/.fill\" bs=4k 2>/dev/null || "
            "true; else mount -o remount,ro \"$m\"; fi; "
            "echo before; sha256sum \"$m\"/signPri.key \"$m\"/kmPri.key; \"$@\"; "
            "echo after; sha256sum \"$m\"/signPri.key \"$m\"/kmPri.key; "
            "echo entries; ls -A \"$m\"";
        const std::string prefix = "unshare -m bash -c " + testkit::quote(script) + " mount " +
                                   testkit::quote(folder) + " " + testkit::quote(pristine.str()) +
                                   " " + testkit::quote(state);
        const std::string out = driver(medium, prefix);
        if (out.find("before") == std::string::npos)
            GTEST_SKIP() << "a tmpfs cannot be mounted here: " << out;
        SCOPED_TRACE(out);
        EXPECT_EQ(resultOf(out), 1341);
        const std::string before = out.substr(out.find("before\n") + 7);
        const std::string after = out.substr(out.find("after\n") + 6);
        EXPECT_EQ(before.substr(0, 64), after.substr(0, 64));
        EXPECT_EQ(before.substr(before.find('\n') + 1, 64), after.substr(after.find('\n') + 1, 64));
        std::istringstream entries(out.substr(out.find("entries\n") + 8));
        std::vector<std::string> names;
        for (std::string line; std::getline(entries, line);)
            if (!line.empty()) names.push_back(line);
        std::sort(names.begin(), names.end());
        std::vector<std::string> expected = {"kmCert.der", "kmPri.key", "signCert.der",
                                             "signPri.key"};
        if (state == "full") expected.insert(expected.begin(), ".fill");
        EXPECT_EQ(names, expected);
    }
}

namespace {

// Every entry below a folder, relative to it, with the bytes of each file ("/" for a folder).
std::map<std::string, Bytes> entriesBelow(const fs::path& top) {
    std::map<std::string, Bytes> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(top, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        out[fs::relative(it->path(), top).string()] =
            it->is_directory() ? Bytes{'/'} : testkit::readBytes(it->path());
    return out;
}

// Where a copy of the source's certificate files the pair on a volume (the holder folder relative
// to the volume), from a run without faults; empty when the copy failed.
std::string copiedHolder(const Medium& source) {
    testkit::Scratch plain("volume");
    const std::string out = copyDriver(source, plain.str());
    EXPECT_EQ(resultOf(out), 0) << out;
    for (const auto& [name, bytes] : entriesBelow(plain.path()))
        if (name.size() > 13 && name.compare(name.size() - 13, 13, "/signCert.der") == 0)
            return name.substr(0, name.size() - 13);
    return {};
}

// The same certificate filed on the volume before, with a key-management key under another
// password: what a copy over it replaces.
void putEarlierPair(const fs::path& volume, const std::string& holder) {
    const fs::path folder = volume / holder;
    fs::create_directories(folder);
    const Parts pair = npkiPair();
    testkit::writeBytes(folder / "signCert.der", pair.signCert);
    testkit::writeBytes(folder / "signPri.key", pair.signKey);
    testkit::writeBytes(folder / "kmCert.der", pair.kmCert);
    testkit::writeBytes(folder / "kmPri.key", materialFile("km-other/key.der"));
}

}  // namespace

TEST(FileTokenFaults, EveryFailedStepOfACopyLeavesTheTargetAsItWasOrTheCopyWhole) {
    if (!haveStrace()) GTEST_SKIP() << "strace is not installed";
    ASSERT_FALSE(material().empty());
    Medium source;
    source.npki(kHolder, npkiPair());
    const std::string holder = copiedHolder(source);
    ASSERT_FALSE(holder.empty());

    // An empty volume (folders made and removed again), and one holding the same certificate
    // with a key-management key under another password (files kept and put back).
    for (const bool earlier : {false, true}) {
        SCOPED_TRACE(earlier ? "over an earlier pair" : "onto an empty volume");
        auto prepare = [&](const fs::path& volume) {
            if (earlier) putEarlierPair(volume, holder);
        };
        testkit::Scratch tracedVolume("volume");
        prepare(tracedVolume.path());
        const std::vector<Call> calls =
            changeCalls(source, tracedVolume.str(),
                        "openat,mkdirat,write,fsync,renameat,renameat2,linkat,unlinkat",
                        [&](const std::string& prefix) {
                            return copyDriver(source, tracedVolume.str(), prefix);
                        });
        ASSERT_GE(calls.size(), 12u);

        std::mutex report;
        inParallel(calls, [&](const Call& call, size_t) {
            Medium medium;
            medium.npki(kHolder, npkiPair());
            testkit::Scratch volume("volume");
            prepare(volume.path());
            const auto before = entriesBelow(volume.path());
            const std::string error = call.name == "linkat"                           ? "EPERM"
                                      : call.name == "openat" || call.name == "write" ? "ENOSPC"
                                                                                      : "EIO";
            const std::string out =
                copyDriver(medium, volume.str(),
                           "strace -f -qq -o /dev/null -e inject=" + call.name + ":error=" + error +
                               ":when=" + std::to_string(call.ordinal));
            const auto after = entriesBelow(volume.path());
            std::lock_guard<std::mutex> lock(report);
            SCOPED_TRACE(call.line + "\n" + out);
            const int rc = resultOf(out);
            EXPECT_NE(rc, -1);
            if (rc == 0) {
                // Whole: both pairs, both keys under the password.
                const fs::path folder = volume.path() / holder;
                EXPECT_EQ(testkit::readBytes(folder / "signCert.der"), npkiPair().signCert);
                EXPECT_EQ(testkit::readBytes(folder / "kmCert.der"), npkiPair().kmCert);
                EXPECT_TRUE(opensWith(testkit::readBytes(folder / "signPri.key"), kPassword));
                EXPECT_TRUE(opensWith(testkit::readBytes(folder / "kmPri.key"), kPassword));
            } else {
                EXPECT_TRUE(after == before) << "the target changed";
            }
            for (const auto& [name, bytes] : after)
                EXPECT_EQ(name.find(".sgtmp."), std::string::npos) << name;
        });
    }
}

// A volume without hard links (most removable media) keeps each file a copy replaces as a copy of
// its bytes. A file that cannot be read cannot be kept so: the copy stops before replacing it,
// else the failure of a later step would put an empty file back in its place.
TEST(FileTokenFaults, WithoutLinksAFileThatCannotBeReadIsNeverPutBackEmpty) {
    if (!haveStrace()) GTEST_SKIP() << "strace is not installed";
    ASSERT_FALSE(material().empty());
    Medium source;
    source.npki(kHolder, npkiPair());
    const std::string holder = copiedHolder(source);
    ASSERT_FALSE(holder.empty());
    const std::string noLinks = " -e inject=linkat:error=EPERM";

    testkit::Scratch tracedVolume("volume");
    putEarlierPair(tracedVolume.path(), holder);
    // Writes are traced for the driver's mark of where the copy begins, links because strace
    // fails only calls it traces.
    const std::vector<Call> calls = changeCalls(
        source, tracedVolume.str(), "openat,write,fsync,linkat", [&](const std::string& prefix) {
            return copyDriver(source, tracedVolume.str(), prefix + noLinks);
        });
    // Every read of a file in the target, and the last flush of the folder: the step after which
    // every file has been replaced and must be put back. (A flush is what fails there, not a
    // rename: when the copy stops earlier, the same ordinal falls on a flush of its undo, whose
    // failure changes nothing, where a rename would be one of the undo's own renames.)
    std::vector<Call> reads;
    Call lastFlush;
    for (const Call& c : calls) {
        if (c.name == "openat" && !c.creates && c.line.find("O_DIRECTORY") == std::string::npos)
            reads.push_back(c);
        if (c.name == "fsync") lastFlush = c;
    }
    // The stored certificate, and each of the four files before it is replaced.
    ASSERT_GE(reads.size(), 5u);
    ASSERT_FALSE(lastFlush.name.empty());

    std::mutex report;
    inParallel(reads, [&](const Call& read, size_t) {
        Medium medium;
        medium.npki(kHolder, npkiPair());
        testkit::Scratch volume("volume");
        putEarlierPair(volume.path(), holder);
        const auto before = entriesBelow(volume.path());
        const std::string out =
            copyDriver(medium, volume.str(),
                       "strace -f -qq -o /dev/null" + noLinks +
                           " -e inject=openat:error=EIO:when=" + std::to_string(read.ordinal) +
                           " -e inject=fsync:error=EIO:when=" + std::to_string(lastFlush.ordinal));
        const auto after = entriesBelow(volume.path());
        std::lock_guard<std::mutex> lock(report);
        SCOPED_TRACE(read.line + "\n" + out);
        EXPECT_EQ(resultOf(out), 1336);
        EXPECT_TRUE(after == before) << "the target changed";
    });
}
