#pragma once
// The main window: its controls are both the user interface and the only settings store.
#include <QCheckBox>
#include <QColor>
#include <QFileSystemWatcher>
#include <QProgressBar>
#include <QTimer>
#include <QFrame>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QStringList>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>

#include "app/core/conversion.h"
#include "graph/settings.h"
#include "app/gui/controls.h"
#include "base/log_sink.h"
#include "metafile/emf_reader.h"

namespace plotmint {

// The preview box: paints through its owner, which holds the picture.
class PaintBox : public QWidget {
    Q_OBJECT
public:
    using PaintHandler = std::function<void(QPainter&)>;
    PaintBox(QWidget* parent, PaintHandler on_paint);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    PaintHandler on_paint_;
};

// The message log: each text becomes one new line; a text ending in "\n" leaves an empty
// line after it.
class MemoLog final : public LogSink {
public:
    void attach(QPlainTextEdit* memo) { memo_ = memo; }
    void log_line(std::string_view text) override;

private:
    QPlainTextEdit* memo_ = nullptr;
};


class TForm1 : public QWidget {
    Q_OBJECT
public:
    struct Options {
        std::optional<QString> program_dir;       // default: the executable's directory
        std::optional<QStringList> arguments;     // default: the command line after the program
        std::optional<ReferenceDisplay> display;  // default: the screen the window is on
    };

    // One showing of a file chooser. `name` is the chooser's name (OpenDialog1 ...), `filter`
    // in Qt's form, `selected` the name chosen in it last time.
    struct FileDialogRequest {
        QString name;
        bool save = false;
        QString filter;
        QString default_suffix;
        QString selected;
    };
    // Returns the chosen file, or nullopt when the user cancelled.
    using FileDialogHook = std::function<std::optional<QString>(const FileDialogRequest&)>;

    // The client area that holds the controls; with a usual title bar and border the window's
    // outer size is 886 x 633. It is also the smallest the window gets: a larger window gives
    // the extra room to the preview.
    static constexpr int kClientWidth = 870;
    static constexpr int kClientHeight = 594;
    // How long a watched graph file must stay untouched before it is drawn again: writers
    // often write a file in several steps or replace it.
    static constexpr int kWatchQuietMs = 300;
    static constexpr double kMinZoom = 0.125;
    static constexpr double kMaxZoom = 64.0;

    explicit TForm1(Options options = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    // Controls, named as the handlers and the message texts refer to them.
    QPushButton* File = nullptr;
    QPushButton* Draw = nullptr;
    QPushButton* Finish = nullptr;
    QPushButton* Copy_to_clip = nullptr;
    QPushButton* tone_load = nullptr;
    QPushButton* tone_save = nullptr;
    QPushButton* pen_load = nullptr;
    QPushButton* pen_save = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    StringGrid* StringGrid1 = nullptr;  // tone nodes
    StringGrid* StringGrid2 = nullptr;  // replacement line pen
    StringGrid* StringGrid3 = nullptr;  // line colours
    StringGrid* StringGrid4 = nullptr;  // pen widths and margin
    StringGrid* StringGrid5 = nullptr;  // panel colour
    RadioGroup* RadioGroup1 = nullptr;  // automatic colour table loading
    RadioGroup* RadioGroup2 = nullptr;  // vertical/horizontal line handling
    RadioGroup* RadioGroup4 = nullptr;  // Hershey font
    QFrame* Panel1 = nullptr;
    PaintBox* PaintBox1 = nullptr;
    // Shown under the preview only while a draw run works.
    QProgressBar* run_progress = nullptr;
    // Draws the graph file again whenever it changes on disk.
    QCheckBox* Watch = nullptr;

    // Handlers.
    void FormCreate();
    void FileClick();
    void DrawClick();
    void Edit1KeyPress(int key);
    void FinishClick();
    void Copy_to_clipClick();
    void PaintBox1Paint();
    void DropFiles(const QList<QUrl>& files);
    void keypress(int key);
    void set_panel_color();
    void tone_loadClick();
    void pen_loadClick();
    void tone_saveClick();
    void pen_saveClick();
    void WatchClick(bool on);
    void show_tone_table(const std::string& file_name);
    void show_line_color_table(const std::string& file_name);
    // Discovery on `graph_file`, then the draw run on the same file, as every trigger but
    // 再描画 does.
    void find_color_table_and_draw(const QString& graph_file);
    void draw_run();
    // What the window does with a run's outcome: show the new picture, or report a picture
    // that could not be read back.
    void show_run_result(DrawRunResult result);

    void set_file_dialog_hook(FileDialogHook hook) { file_dialog_hook_ = std::move(hook); }

    // What the window holds, for its tests and the screenshots.
    QStringList log_lines() const;
    int picture_flag() const { return picture_flag_; }
    const std::optional<EmfPicture>& picture() const { return picture_; }
    // Where the picture shows in PaintBox1 now (zoom and pan included).
    QRect preview_rect() const;
    // The picture shown is older than the last run, which failed.
    bool picture_stale() const { return picture_stale_; }
    // The file the watch follows; empty while not watching.
    QString watched_file() const { return watch_file_; }

    // The preview's view: 1 shows the whole picture as a run places it.
    double zoom() const { return zoom_; }
    // Zooms by `factor` keeping the box point `at` where it is.
    void zoom_by(double factor, QPointF at);
    void zoom_by(double factor);  // about the box's centre
    void pan_by(QPointF delta);
    // Back to the whole picture.
    void fit_view();
    // The settings as the last run read them from the grids (a cell without a number keeps
    // its value), and the tables the grids were last filled from.
    const Settings& held() const { return held_; }
    const QString& program_dir() const { return program_dir_; }
    QColor panel_color() const;
    ReferenceDisplay reference_display() const;
    LogSink& log() { return log_; }

    static QFont ui_font();
    // A file name as the core takes it: the bytes the file system uses.
    static std::string file_name_bytes(const QString& name);

protected:
    friend class PreviewMenu;  // saves through choose_file, the window's file-chooser seam

    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build_controls();
    void layout_controls();
    // The picture's rectangle in PaintBox1 before zoom and pan.
    QRectF fitted_target() const;
    QRectF view_target() const;
    void note_preview_box();
    void paint_stale_note(QPainter& painter, const QRectF& target);
    void watch_file(const QString& file);
    void watched_path_changed();
    void paint_preview(QPainter& painter);
    std::optional<QString> choose_file(FileDialogRequest request);
    std::optional<QString> run_file_dialog(const FileDialogRequest& request);
    // False (having said why) when the picture did not reach the clipboard.
    bool copy_to_clipboard(const EmfPicture& picture);
    bool put_on_clipboard(const EmfPicture& picture);
    void find_color_table(Conversion& conversion);
    // The run on `conversion`; a run that does not finish leaves the earlier picture, which
    // is then marked as out of date.
    void draw_run(Conversion& conversion);
    // The grids and radio groups as a draw run reads them; a cell without a number gives the
    // held value.
    Settings read_settings() const;

    Options options_;
    QString program_dir_;
    MemoLog log_;
    Settings held_;
    int picture_flag_ = 0;
    bool startup_flag_ = false;
    std::optional<EmfPicture> picture_;
    Rect preview_{};
    // preview_ as last seen, and PaintBox1's size when it was made: a run places the picture
    // for the box size it finds, and a later resize rescales from there.
    Rect preview_seen_{};
    QSize preview_box_;
    bool picture_stale_ = false;
    bool running_ = false;
    double zoom_ = 1.0;
    QPointF pan_;
    std::optional<QPointF> drag_from_;
    QFileSystemWatcher watcher_;
    QTimer watch_timer_;
    QString watch_file_;
    // What the watched file looked like when last seen: modification time and size.
    QPair<qint64, qint64> watch_seen_{-1, -1};
    QHash<QString, QString> last_chosen_;
    FileDialogHook file_dialog_hook_;
};

}  // namespace plotmint
