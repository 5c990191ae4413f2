#pragma once
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// Each test file of the window runs its own QtTest object; the main program runs them all
// under the window's own application object, so escaped errors reach the error box.
int run_qt_canvas_tests(int argc, char** argv);
int run_picture_mime_tests(int argc, char** argv);
int run_main_window_tests(int argc, char** argv);
int run_preview_menu_tests(int argc, char** argv);

// A window's surroundings for one test: a program folder holding the shipped tables and a
// working folder made current, both inside a temporary folder. False when one cannot be made.
inline bool make_window_folders(std::unique_ptr<QTemporaryDir>& temp, QString& prog_dir, QString& work_dir) {
    temp = std::make_unique<QTemporaryDir>();
    if (!temp->isValid()) return false;
    prog_dir = temp->filePath("prog");
    work_dir = temp->filePath("work");
    if (!QDir().mkpath(prog_dir) || !QDir().mkpath(work_dir)) return false;
    for (const char* table : {"tone-default.ktc", "line-default.klc", "tone-demo.ktc", "line-demo.klc"})
        if (!QFile::copy(QString(PLOTMINT_SOURCE_DIR "/data/") + table, prog_dir + "/" + table)) return false;
    return QDir::setCurrent(work_dir);
}

// Leaves the working folder before the temporary folder goes.
inline void drop_window_folders(std::unique_ptr<QTemporaryDir>& temp) {
    QDir::setCurrent(QDir::tempPath());
    temp.reset();
}
