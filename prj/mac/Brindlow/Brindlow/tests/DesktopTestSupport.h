// Helpers for driving the windows in tests: acting inside a modal run once its window is up,
// with bounded waits on real conditions.
#pragma once

#include <QApplication>
#include <QWidget>

#include <QString>

#include <functional>
#include <ostream>
#include <string>

// Failures show texts as text.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace brindlow::test {

// Calls fn with the modal window of type T once it is the active modal window; fn runs inside
// that window's modal run. Polls every 10 ms. When no such window shows within timeoutMs, the
// test fails and whatever modal window is up is dismissed, so the test cannot hang.
void whenModalWidget(const std::function<bool(QWidget*)>& isWanted,
                     const std::function<void(QWidget*)>& fn, int timeoutMs = 10000);

template <class T>
void whenModal(const std::function<void(T*)>& fn, int timeoutMs = 10000) {
    whenModalWidget([](QWidget* w) { return qobject_cast<T*>(w) != nullptr; },
                    [fn](QWidget* w) { fn(qobject_cast<T*>(w)); }, timeoutMs);
}

// A fresh folder below the test run's temporary folder.
std::string makeTempFolder(const std::string& name);

// The folder every test of this run works below ($TMPDIR-based, removed at exit).
std::string testRoot();

// Builds the certificate media below testRoot() with tests/data/make_npki_tree.sh and points
// HOME and the mount folder at them, before anything reads them. False when that failed.
bool prepareEnvironment();

// A single certificate that the fixture script made (full.der, v1.der, hostile.der, ca.der).
std::string fixturePath(const std::string& name);

// The bytes of a file; empty when it cannot be read.
std::string fileBytes(const std::string& path);
// The path of the one folder in a folder; empty when it holds none or several.
std::string onlyFolderIn(const std::string& folder);

// The home folder and the mount folder that prepareEnvironment set.
std::string testHome();
std::string testVolumes();

}  // namespace brindlow::test
