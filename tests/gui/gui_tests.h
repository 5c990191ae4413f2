#pragma once
// Each test file of the window runs its own QtTest object; the main program runs them all
// under the window's own application object, so escaped errors reach the error box.
int run_qt_canvas_tests(int argc, char** argv);
int run_picture_mime_tests(int argc, char** argv);
int run_main_window_tests(int argc, char** argv);
int run_preview_menu_tests(int argc, char** argv);
