#pragma once

// A real main window for tests, started for a temporary home folder, with a desktop that records
// what the window asks of it instead of opening a browser, a file manager or a dialog, and that
// shows notices and files only for a test on a session bus of its own.

#include <QCoreApplication>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QWidget>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/Desktop.h"
#include "app/MainForm.h"

namespace tarnwick::testing {

struct TDesktopLog {
    struct FolderRequest {
        QWidget* owner;
        QString title;
        QString startFolder;
    };
    struct Message {
        QWidget* owner;
        QString title;
        QString text;
        QMessageBox::StandardButtons buttons;
    };
    std::vector<QUrl> opened;
    // Notices and files shown go to the desktop's services on the session bus; otherwise nowhere.
    bool realBus = false;
    std::vector<FolderRequest> folderRequests;
    std::vector<Message> messages;
    QString nextFolder;  // what the folder browser answers; empty = the user cancels
};

class TRecordingDesktop : public TDesktop {
public:
    explicit TRecordingDesktop(TDesktopLog& log) : log_(log) {}
    void OpenUrl(const QUrl& url) override { log_.opened.push_back(url); }
    QString ChooseFolder(QWidget* owner, const QString& title, const QString& startFolder) override {
        log_.folderRequests.push_back({owner, title, startFolder});
        return log_.nextFolder;
    }
    void ShowMessage(QMessageBox& box) override {
        log_.messages.push_back({box.parentWidget(), box.windowTitle(), box.text(), box.standardButtons()});
    }
    void ShowNotice(const QString& summary, const QString& body, std::function<void()> showFile) override {
        if (log_.realBus) TDesktop::ShowNotice(summary, body, std::move(showFile));
    }
    void ShowFile(const std::string& path) override {
        if (log_.realBus) TDesktop::ShowFile(path);
    }

private:
    TDesktopLog& log_;
};

class MainFormFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home_.isValid());
        form_ = MakeForm(home_.path().toStdString());
    }

    void TearDown() override {
        form_.reset();
        // QTemporaryDir cannot remove names that are not UTF-8, and some tests make them.
        std::error_code ignored;
        std::filesystem::remove_all(Home(), ignored);
    }

    std::unique_ptr<TMainForm> MakeForm(const std::string& home) {
        const std::string program = QCoreApplication::applicationFilePath().toStdString();
        return std::make_unique<TMainForm>(TStartPlaces{home, program}, std::make_unique<TRecordingDesktop>(log_));
    }

    // Shows the window and waits until it can take input.
    void ShowForm() {
        form_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
    }

    template <class W>
    W& Find(const char* name) const {
        auto* widget = form_->findChild<W*>(QString::fromLatin1(name));
        if (!widget) throw std::runtime_error(std::string("no control named ") + name);
        return *widget;
    }

    std::string Home() const { return home_.path().toStdString(); }

    QTemporaryDir home_;
    TDesktopLog log_;
    std::unique_ptr<TMainForm> form_;
};

}  // namespace tarnwick::testing
