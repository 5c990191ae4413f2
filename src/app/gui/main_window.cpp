#include "app/gui/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollBar>
#include <QTextOption>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <new>
#include <system_error>

#include "app/core/table_dir.h"
#include "app/gui/application.h"
#include "app/export/picture_mime.h"
#include "app/gui/preview_menu.h"
#include "app/export/qt_canvas.h"
#include "base/format.h"
#include "base/parse_int.h"
#include "color/discovery.h"
#include "color/grids.h"
#include "color/tables.h"

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace plotmint {

namespace {

QString u8(const char* text) { return QString::fromUtf8(text); }

QPushButton* make_button(QWidget* parent, const char* name, const QString& caption, QRect place) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(place);
    b->setAutoDefault(false);
    return b;
}

QLabel* make_label(QWidget* parent, const char* name, const QString& caption, QPoint place) {
    auto* l = new QLabel(caption, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->move(place);
    l->adjustSize();
    return l;
}

StringGrid* make_grid(QWidget* parent, const char* name, int cols, int rows, int fixed_cols, QRect place,
                      int col_width, int row_height) {
    auto* g = new StringGrid(cols, rows, 1, fixed_cols, parent);
    g->setObjectName(QString::fromLatin1(name));
    g->setGeometry(place);
    g->set_default_col_width(col_width);
    g->set_default_row_height(row_height);
    return g;
}

RadioGroup* make_radio_group(QWidget* parent, const char* name, const QString& caption, const QStringList& items,
                             int index, QRect place) {
    auto* g = new RadioGroup(caption, items, parent);
    g->setObjectName(QString::fromLatin1(name));
    g->setGeometry(place);
    g->set_item_index(index);
    g->fit_caption();
    return g;
}

void set_row(StringGrid* grid, int row, std::initializer_list<const char*> texts) {
    int c = 0;
    for (const char* t : texts) grid->set_cell(row, c++, u8(t));
}

// A default value as the grids show numbers.
template <size_t N>
void set_values(StringGrid* grid, int row, const std::array<int32_t, N>& values) {
    for (size_t c = 0; c < N; ++c) grid->set_cell(row, static_cast<int>(c), QString::fromLatin1(strformat("%3d", values[c]).c_str()));
}

// Row 1 of a settings grid; a cell without a number keeps the held value.
void read_cell(const StringGrid& grid, int col, int32_t& held) {
    if (const auto v = parse_int(grid.cell_utf8(1, col))) held = *v;
}

// A title row with translated captions.
void set_row(StringGrid* grid, int row, std::initializer_list<QString> texts) {
    int c = 0;
    for (const QString& t : texts) grid->set_cell(row, c++, t);
}

// The page a graph is drawn on, in graph units; the preview shows it whole.
constexpr double kPageWidth = 5240.0;
constexpr double kPageHeight = 7860.0;

// The largest rectangle shaped w : h centred in `box`. Products come before quotients, so a
// box of exactly that shape is matched exactly.
QRectF centred_fit(const QRectF& box, double w, double h) {
    if (!(w > 0 && h > 0) || box.isEmpty()) return box;
    const QSizeF size = box.width() * h <= box.height() * w ? QSizeF(box.width(), box.width() * h / w)
                                                            : QSizeF(box.height() * w / h, box.height());
    return QRectF(box.left() + (box.width() - size.width()) / 2, box.top() + (box.height() - size.height()) / 2,
                  size.width(), size.height());
}

// The modification time (to the file system's resolution) and size of a file; (-1, -1) when
// it is not there.
QPair<qint64, qint64> file_signature(const QString& path) {
    std::error_code ec;
    const std::filesystem::path p(TForm1::file_name_bytes(path));
    const auto size = std::filesystem::file_size(p, ec);
    if (ec) return {-1, -1};
    const auto time = std::filesystem::last_write_time(p, ec);
    if (ec) return {-1, -1};
    return {static_cast<qint64>(time.time_since_epoch().count()), static_cast<qint64>(size)};
}

}  // namespace

PaintBox::PaintBox(QWidget* parent, PaintHandler on_paint) : QWidget(parent), on_paint_(std::move(on_paint)) {}

void PaintBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (on_paint_) on_paint_(painter);
}

void MemoLog::log_line(std::string_view text) {
    if (!memo_) return;
    memo_->appendPlainText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    memo_->verticalScrollBar()->setValue(memo_->verticalScrollBar()->maximum());
}

TForm1::TForm1(Options options, QWidget* parent) : QWidget(parent), options_(std::move(options)) {
    // What the window holds starts at zero; the defaults are what the grids first show.
    held_.widths.width.fill(0);
    held_.vhline_pen = VhlinePen{Rgb{0, 0, 0}, 0};
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Plotmint"));
    setFont(ui_font());
    resize(kClientWidth, kClientHeight);
    build_controls();
    log_.attach(Memo1);
    PreviewMenu::install(*this);
    FormCreate();
}

TForm1::~TForm1() = default;

QFont TForm1::ui_font() {
    const QString preferred = u8("ＭＳ Ｐゴシック");
    QFont font;
    font.setFamilies({QFontDatabase::hasFamily(preferred) ? preferred : QStringLiteral("Noto Sans CJK JP")});
    font.setPixelSize(15);
    return font;
}

std::string TForm1::file_name_bytes(const QString& name) { return QFile::encodeName(name).toStdString(); }

void TForm1::build_controls() {
    File = make_button(this, "File", tr("ファイルを選ぶ"), {16, 8, 177, 33});
    Label1 = make_label(this, "Label1", tr("ファイル名"), {16, 48});
    Edit1 = new QLineEdit(u8("graph.g"), this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(16, 72, 209, 23);
    Label3 = make_label(this, "Label3", tr("線幅"), {16, 104});
    // The grid starts 16 pixels lower and would cover the rest of a taller label.
    Label3->resize(Label3->width(), 16);
    Label3->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    StringGrid4 = make_grid(this, "StringGrid4", 5, 2, 0, {16, 120, 193, 52}, 37, 24);
    Draw = make_button(this, "Draw", tr("再描画"), {16, 184, 81, 41});
    Finish = make_button(this, "Finish", tr("終了"), {120, 184, 81, 41});
    Copy_to_clip = make_button(this, "Copy_to_clip", tr("クリップボードへコピー"), {16, 232, 185, 41});
    Label2 = make_label(this, "Label2", tr("メッセージ"), {16, 280});
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(16, 304, 185, 281);
    Memo1->setReadOnly(true);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    Memo1->setFocusPolicy(Qt::ClickFocus);  // not reached by Tab

    const Settings defaults;
    RadioGroup2 = make_radio_group(this, "RadioGroup2", tr("Vline Hline の扱い"),
                                   {tr("線分の集合"), tr("点線で置換"), tr("下色の線")},
                                   static_cast<int>(defaults.vhline), {232, 8, 137, 97});
    StringGrid2 = make_grid(this, "StringGrid2", 4, 2, 0, {216, 112, 153, 49}, 36, 22);
    RadioGroup4 = make_radio_group(this, "RadioGroup4", tr("hersheyフォント"),
                                   {tr("元のまま"), tr("Arialで置換"), tr("Timesで置換")},
                                   static_cast<int>(defaults.hershey), {384, 8, 137, 97});
    RadioGroup1 = make_radio_group(this, "RadioGroup1", tr("カラーテーブル自動読込"), {tr("する"), tr("しない")}, 0,
                                   {384, 120, 161, 65});
    Label4 = make_label(this, "Label4", tr("塗りつぶしの色"), {216, 192});
    StringGrid1 = make_grid(this, "StringGrid1", 4, 122, 0, {216, 216, 139, 321}, 33, 20);
    Label5 = make_label(this, "Label5", tr("線の色"), {376, 192});
    StringGrid3 = make_grid(this, "StringGrid3", 4, 32, 1, {376, 216, 139, 321}, 33, 20);
    tone_load = make_button(this, "tone_load", QStringLiteral("Load"), {216, 544, 73, 41});
    tone_save = make_button(this, "tone_save", QStringLiteral("Save"), {296, 544, 65, 41});
    pen_load = make_button(this, "pen_load", QStringLiteral("Load"), {376, 544, 73, 41});
    pen_save = make_button(this, "pen_save", QStringLiteral("Save"), {456, 544, 65, 41});

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(552, 16, 313, 465);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setLineWidth(1);
    Panel1->setAutoFillBackground(true);
    PaintBox1 = new PaintBox(Panel1, [this](QPainter& p) {
        PaintBox1Paint();
        paint_preview(p);
    });
    PaintBox1->setObjectName(QStringLiteral("PaintBox1"));
    PaintBox1->setGeometry(8, 8, 300, 450);
    PaintBox1->setFocusPolicy(Qt::ClickFocus);  // for the zoom keys; not reached by Tab
    PaintBox1->installEventFilter(this);
    preview_box_ = PaintBox1->size();

    run_progress = new QProgressBar(this);
    run_progress->setObjectName(QStringLiteral("run_progress"));
    run_progress->setGeometry(552, 485, 313, 12);
    run_progress->setRange(0, 1000);
    run_progress->setTextVisible(false);
    run_progress->hide();
    Label6 = make_label(this, "Label6", tr("パネルの色（-1を指定するとボタンカラー）"), {552, 504});
    StringGrid5 = make_grid(this, "StringGrid5", 3, 2, 0, {552, 528, 156, 53}, 50, 24);

    Watch = new QCheckBox(tr("監視"), this);
    Watch->setObjectName(QStringLiteral("Watch"));
    Watch->setToolTip(tr("グラフファイルが書き換えられるたびに再描画する"));
    Watch->adjustSize();
    Watch->move(225 - Watch->width(), 46);
    watch_timer_.setSingleShot(true);
    watch_timer_.setInterval(kWatchQuietMs);
    connect(&watch_timer_, &QTimer::timeout, this, [this] {
        if (running_) {
            // A run lets timers fire while it works; the next draw waits for it to end.
            watch_timer_.start();
            return;
        }
        DrawClick();
    });
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this, [this] { watched_path_changed(); });
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { watched_path_changed(); });
    setMinimumSize(kClientWidth, kClientHeight);

    // Files dropped anywhere on the window reach the window, not the control under them.
    for (QWidget* child : findChildren<QWidget*>()) child->setAcceptDrops(false);

    connect(File, &QPushButton::clicked, this, &TForm1::FileClick);
    connect(Draw, &QPushButton::clicked, this, &TForm1::DrawClick);
    connect(Finish, &QPushButton::clicked, this, &TForm1::FinishClick);
    connect(Copy_to_clip, &QPushButton::clicked, this, &TForm1::Copy_to_clipClick);
    connect(Watch, &QCheckBox::toggled, this, &TForm1::WatchClick);
    connect(tone_load, &QPushButton::clicked, this, &TForm1::tone_loadClick);
    connect(tone_save, &QPushButton::clicked, this, &TForm1::tone_saveClick);
    connect(pen_load, &QPushButton::clicked, this, &TForm1::pen_loadClick);
    connect(pen_save, &QPushButton::clicked, this, &TForm1::pen_saveClick);
    connect(Edit1, &QLineEdit::returnPressed, this, [this] { Edit1KeyPress('\r'); });
    connect(StringGrid5, &StringGrid::enter_pressed, this, [this] { keypress('\r'); });
}

void TForm1::FormCreate() {
    picture_flag_ = 0;
    program_dir_ = options_.program_dir
                       ? *options_.program_dir
                       : QFile::decodeName(table_directory(file_name_bytes(QCoreApplication::applicationDirPath())).c_str());
    if (program_dir_.isEmpty()) {
        log_.log_line("プログラムにバグがあります。製作者に連絡してください。");
        return;
    }
    const Settings defaults;
    set_row(StringGrid2, 0, {"  R", "  G", "  B", tr("線幅", "grid title")});
    const VhlinePen& pen = defaults.vhline_pen;
    set_values(StringGrid2, 1, std::array<int32_t, 4>{pen.color.r, pen.color.g, pen.color.b, pen.width});
    set_row(StringGrid4, 0, {"  1", "  2", "  3", "  4", "  5"});
    set_values(StringGrid4, 1, defaults.widths.width);
    set_row(StringGrid5, 0, {"  R", "  G", "  B"});
    set_row(StringGrid5, 1, {"-1", "255", "255"});
    set_panel_color();
    const std::string dir = file_name_bytes(program_dir_);
    show_tone_table(default_tone_path(dir));
    show_line_color_table(default_line_path(dir));
    setAcceptDrops(true);
}

void TForm1::set_panel_color() {
    const auto r = parse_int(StringGrid5->cell_utf8(1, 0));
    const auto g = parse_int(StringGrid5->cell_utf8(1, 1));
    const auto b = parse_int(StringGrid5->cell_utf8(1, 2));
    auto in_range = [](const std::optional<int32_t>& v) { return v && *v >= 0 && *v <= 255; };
    QColor colour;
    if (in_range(r) && in_range(g) && in_range(b)) {
        log_.log_line(strformat("RGB : %d  %d  %d", *r, *g, *b));
        colour = QColor(*r, *g, *b);
    } else {
        colour = QApplication::palette().color(QPalette::Button);
    }
    QPalette pal = Panel1->palette();
    pal.setColor(QPalette::Window, colour);
    Panel1->setPalette(pal);
    Panel1->update();
}

QColor TForm1::panel_color() const { return Panel1->palette().color(QPalette::Window); }

void TForm1::keypress(int key) {
    if (key == '\r') set_panel_color();
}

void TForm1::FinishClick() { close(); }

void TForm1::show_tone_table(const std::string& file_name) {
    GridCells cells = StringGrid1->cells4();
    plotmint::show_tone_table(file_name, file_name_bytes(program_dir_), held_.tone, cells, log_);
    StringGrid1->set_cells4(cells);
}

void TForm1::show_line_color_table(const std::string& file_name) {
    GridCells cells = StringGrid3->cells4();
    plotmint::show_line_color_table(file_name, file_name_bytes(program_dir_), held_.line_color, cells, log_);
    StringGrid3->set_cells4(cells);
}

void TForm1::find_color_table(Conversion& conversion) {
    DiscoveryCallbacks show;
    show.show_tone = [this](const std::string& path) { show_tone_table(path); };
    show.show_line = [this](const std::string& path) { show_line_color_table(path); };
    conversion.find_color_tables(file_name_bytes(program_dir_), RadioGroup1->item_index() != 1, show, log_);
}

void TForm1::find_color_table_and_draw(const QString& graph_file) {
    Conversion conversion(file_name_bytes(graph_file));
    find_color_table(conversion);
    draw_run(conversion);
}

ReferenceDisplay TForm1::reference_display() const {
    if (options_.display) return *options_.display;
    const QScreen* s = screen();
    if (!s) return kDefaultDisplay;
    const QSizeF mm = s->physicalSize();
    const QSize px = s->geometry().size() * s->devicePixelRatio();
    ReferenceDisplay d{static_cast<int32_t>(std::lround(mm.width())), static_cast<int32_t>(std::lround(mm.height())),
                       px.width(), px.height()};
    if (d.horz_mm <= 0 || d.vert_mm <= 0 || d.horz_px <= 0 || d.vert_px <= 0) return kDefaultDisplay;
    return d;
}

Settings TForm1::read_settings() const {
    Settings s = held_;
    for (int c = 0; c < 5; ++c) read_cell(*StringGrid4, c, s.widths.width[static_cast<size_t>(c)]);
    VhlinePen& pen = s.vhline_pen;
    read_cell(*StringGrid2, 0, pen.color.r);
    read_cell(*StringGrid2, 1, pen.color.g);
    read_cell(*StringGrid2, 2, pen.color.b);
    read_cell(*StringGrid2, 3, pen.width);
    read_tone_cells(StringGrid1->cells4(), s.tone);
    read_line_cells(StringGrid3->cells4(), s.line_color);
    s.vhline = vhline_mode_from_index(RadioGroup2->item_index());
    s.hershey = hershey_choice_from_index(RadioGroup4->item_index());
    s.display = reference_display();
    return s;
}

void TForm1::draw_run() {
    Conversion conversion(file_name_bytes(Edit1->text()));
    draw_run(conversion);
}

void TForm1::draw_run(Conversion& conversion) {
    // A long run keeps the window painted and shows how far it got, but handles no input
    // meanwhile: the run still owns the window's state until it returns.
    conversion.set_progress([this](const RunProgress& p) {
        const double total = static_cast<double>(p.bytes_total);
        const double within = total > 0 ? static_cast<double>(p.bytes_done) / total : 0.0;
        const int pass = static_cast<int>(p.pass);
        run_progress->setValue(static_cast<int>(1000.0 * ((pass - 1) + std::min(within, 1.0)) / plotmint::kRunPasses));
        if (!run_progress->isVisible()) run_progress->show();
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    });
    const Settings settings = read_settings();
    running_ = true;
    DrawRunResult result;
    try {
        result = conversion.run(settings, PictureTarget::file("graph.emf"), log_);
    } catch (const std::bad_alloc&) {
        // The run's memory is free again; the window keeps the picture it had, as after any
        // run that did not get as far as a picture.
        running_ = false;
        run_progress->hide();
        show_error_box(this, error_box_text("not enough memory to draw the picture"));
        return;
    }
    running_ = false;
    // The values read count as held only when the run got as far as reading them: a run that
    // stopped at the file name or at opening the file leaves everything as it was.
    if (result.picture_renewed) held_ = settings;
    run_progress->hide();
    const bool finished = result.finished;
    show_run_result(std::move(result));
    note_preview_box();
    // A picture older than this run says so until a run finishes.
    const bool stale = picture_.has_value() && !finished;
    if (stale != picture_stale_) {
        picture_stale_ = stale;
        PaintBox1->update();
    }
    if (Watch->isChecked()) watch_file(Edit1->text());
}

void TForm1::show_run_result(DrawRunResult result) {
    if (result.picture) {
        picture_ = std::move(result.picture);
        preview_ = plotmint::preview_rect(result.extent, PaintBox1->width(), PaintBox1->height());
        PaintBox1->repaint();
        picture_flag_ = 1;
    } else if (!result.read_error.empty()) {
        // The preview and the picture stay as they were, like the picture flag.
        show_error_box(this, error_box_text(result.read_error.c_str()));
    }
}

QRect TForm1::preview_rect() const {
    const QRectF r = view_target();
    return QRect(QPoint(static_cast<int>(std::floor(r.left())), static_cast<int>(std::floor(r.top()))),
                 QPoint(static_cast<int>(std::ceil(r.right())) - 1, static_cast<int>(std::ceil(r.bottom())) - 1));
}

void TForm1::note_preview_box() {
    // A run has placed a new picture for the box as it is now.
    if (preview_ == preview_seen_) return;
    preview_seen_ = preview_;
    preview_box_ = PaintBox1->size();
}

QRectF TForm1::fitted_target() const {
    const double bw = preview_box_.width(), bh = preview_box_.height();
    const QRectF box(QPointF(0, 0), QSizeF(PaintBox1->size()));
    if (!(bw > 0 && bh > 0)) return {};
    const double left = preview_.left, top = preview_.top, right = preview_.right, bottom = preview_.bottom;
    if (left >= 0 && top >= 0 && right <= bw && bottom <= bh) {
        // Inside the page: the page keeps its shape, as large as the box allows; at the size
        // the run found the place is the run's own, to the pixel.
        const QRectF page = centred_fit(box, kPageWidth, kPageHeight);
        const double sx = page.width(), sy = page.height();
        return QRectF(QPointF(page.left() + left * sx / bw, page.top() + top * sy / bh),
                      QPointF(page.left() + right * sx / bw, page.top() + bottom * sy / bh));
    }
    // Beyond the page: the whole picture, margin included, in its own shape.
    const double w = (right - left) / bw * kPageWidth, h = (bottom - top) / bh * kPageHeight;
    if (!(w > 0 && h > 0)) return {};
    return centred_fit(box.adjusted(4, 4, -4, -4), w, h);
}

QRectF TForm1::view_target() const {
    const QRectF base = fitted_target();
    if (base.isEmpty()) return base;
    const QPointF c = QRectF(QPointF(0, 0), QSizeF(PaintBox1->size())).center();
    const QPointF tl = c + zoom_ * (base.topLeft() - c) + pan_;
    return QRectF(tl, base.size() * zoom_);
}

void TForm1::paint_preview(QPainter& painter) {
    if (!picture_) return;
    note_preview_box();
    const QRectF target = view_target();
    if (!(target.width() > 0 && target.height() > 0)) return;
    paint_picture(painter, *picture_, target);
    if (picture_stale_) paint_stale_note(painter, target);
}

void TForm1::paint_stale_note(QPainter& painter, const QRectF& target) {
    painter.save();
    // A light wash over the picture, and a note in the box's corner where it is always seen.
    painter.fillRect(target.intersected(QRectF(PaintBox1->rect())), QColor(255, 255, 255, 150));
    const QString note = tr("古い図");
    QFont f = font();
    f.setBold(true);
    painter.setFont(f);
    const QFontMetrics fm(f);
    const QRect label(6, 6, fm.horizontalAdvance(note) + 12, fm.height() + 6);
    painter.setPen(QColor(160, 0, 0));
    painter.setBrush(QColor(255, 255, 224));
    painter.drawRect(label);
    painter.drawText(label, Qt::AlignCenter, note);
    painter.restore();
}

void TForm1::zoom_by(double factor, QPointF at) {
    const double z = std::clamp(zoom_ * factor, kMinZoom, kMaxZoom);
    const QPointF c = QRectF(QPointF(0, 0), QSizeF(PaintBox1->size())).center();
    // The picture point under `at` stays under it.
    const QPointF under = (at - c - pan_) / zoom_;
    pan_ = at - c - z * under;
    zoom_ = z;
    PaintBox1->update();
}

void TForm1::zoom_by(double factor) { zoom_by(factor, QRectF(QPointF(0, 0), QSizeF(PaintBox1->size())).center()); }

void TForm1::pan_by(QPointF delta) {
    pan_ += delta;
    PaintBox1->update();
}

void TForm1::fit_view() {
    zoom_ = 1.0;
    pan_ = {};
    PaintBox1->update();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched != PaintBox1) return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Wheel: {
        auto* e = static_cast<QWheelEvent*>(event);
        const double steps = e->angleDelta().y() / 120.0;
        if (steps != 0 && picture_) zoom_by(std::pow(1.25, steps), e->position());
        return true;
    }
    case QEvent::MouseButtonPress: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (e->button() != Qt::LeftButton) break;
        drag_from_ = e->position();
        PaintBox1->setCursor(Qt::ClosedHandCursor);
        return true;
    }
    case QEvent::MouseMove: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (!drag_from_ || !(e->buttons() & Qt::LeftButton)) break;
        pan_by(e->position() - *drag_from_);
        drag_from_ = e->position();
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton) break;
        drag_from_.reset();
        PaintBox1->unsetCursor();
        return true;
    case QEvent::MouseButtonDblClick:
        fit_view();
        return true;
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Plus || key == Qt::Key_Equal) zoom_by(1.25);
        else if (key == Qt::Key_Minus) zoom_by(1 / 1.25);
        else if (key == Qt::Key_0) fit_view();
        else break;
        return true;
    }
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void TForm1::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layout_controls();
}

// The left and middle columns keep their places; the preview takes what the window gives
// beyond its smallest size, the log grows downwards and the panel colour stays under the preview.
void TForm1::layout_controls() {
    if (!Panel1) return;
    note_preview_box();
    const int w = std::max(width(), kClientWidth), h = std::max(height(), kClientHeight);
    Memo1->setGeometry(16, 304, 185, h - 313);
    Panel1->setGeometry(552, 16, w - 557, h - 129);
    PaintBox1->setGeometry(8, 8, Panel1->width() - 13, Panel1->height() - 15);
    run_progress->setGeometry(552, h - 109, w - 557, 12);
    Label6->move(552, h - 90);
    StringGrid5->move(552, h - 66);
}

void TForm1::WatchClick(bool on) {
    if (on) {
        watch_file(Edit1->text());
    } else {
        watch_timer_.stop();
        if (!watcher_.files().isEmpty()) watcher_.removePaths(watcher_.files());
        if (!watcher_.directories().isEmpty()) watcher_.removePaths(watcher_.directories());
        watch_file_.clear();
    }
}

// The folder is watched as well as the file: a writer that replaces the file (a new file
// renamed over the old one) ends the watch on the old file.
void TForm1::watch_file(const QString& file) {
    const QString path = QFileInfo(file).absoluteFilePath();
    if (path != watch_file_) {
        WatchClick(false);
        watch_file_ = path;
    }
    const QString dir = QFileInfo(path).absolutePath();
    if (!watcher_.directories().contains(dir)) watcher_.addPath(dir);
    if (QFileInfo::exists(path) && !watcher_.files().contains(path)) watcher_.addPath(path);
    watch_seen_ = file_signature(path);
}

void TForm1::watched_path_changed() {
    if (watch_file_.isEmpty()) return;
    const auto seen = file_signature(watch_file_);
    // Only a change of the file's time or size counts: the folder changes whenever graph.emf
    // is written beside the file by the run itself, and reading the file may touch it too.
    if (seen == watch_seen_) return;
    watch_seen_ = seen;
    if (seen.first >= 0 && !watcher_.files().contains(watch_file_)) watcher_.addPath(watch_file_);
    watch_timer_.start();
}

void TForm1::DrawClick() { draw_run(); }

void TForm1::Edit1KeyPress(int key) {
    if (key != '\r') return;
    find_color_table_and_draw(Edit1->text());
}

void TForm1::FileClick() {
    const auto path = choose_file({QStringLiteral("OpenDialog1"), false, tr("グラフファイル(*.g)"), {}, {}});
    if (!path) return;
    Edit1->setText(*path);
    find_color_table_and_draw(Edit1->text());
}

void TForm1::PaintBox1Paint() {
    if (startup_flag_) return;
    startup_flag_ = true;
    QStringList args = options_.arguments ? *options_.arguments : QCoreApplication::arguments().mid(1);
    take_language_option(args);  // the language was chosen before the window was made
    if (args.size() != 1) return;
    // The run repaints the preview box, so it starts once this paint is over.
    const QString file = args.front();
    QMetaObject::invokeMethod(
        this,
        [this, file] {
            if (PreviewMenu::open_table_argument(*this, file)) return;
            Edit1->setText(file);
            find_color_table_and_draw(Edit1->text());
        },
        Qt::QueuedConnection);
}

void TForm1::DropFiles(const QList<QUrl>& files) {
    if (files.size() != 1) {
        log_.log_line("ドラッグしたファイルの個数が多すぎます。");
        return;
    }
    Edit1->setText(files.front().toLocalFile());
    find_color_table_and_draw(Edit1->text());
}

namespace {

bool holds_local_files(const QMimeData* mime) {
    if (!mime || !mime->hasUrls() || mime->urls().isEmpty()) return false;
    for (const QUrl& url : mime->urls())
        if (!url.isLocalFile()) return false;
    return true;
}

}  // namespace

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    if (holds_local_files(event->mimeData())) event->acceptProposedAction();
}

void TForm1::dragMoveEvent(QDragMoveEvent* event) {
    if (holds_local_files(event->mimeData())) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
    if (!holds_local_files(event->mimeData())) return;
    event->acceptProposedAction();
    DropFiles(event->mimeData()->urls());
}

void TForm1::Copy_to_clipClick() {
    if (picture_flag_ == 0 || !picture_) {
        log_.log_line("クリップボードへコピーするデータがありません");
        return;
    }
    if (copy_to_clipboard(*picture_)) log_.log_line("クリップボードへコピーしました");
}

bool TForm1::copy_to_clipboard(const EmfPicture& picture) {
    try {
        return put_on_clipboard(picture);
    } catch (const std::bad_alloc&) {
        show_error_box(this, error_box_text("not enough memory to copy the picture"));
        return false;
    }
}

bool TForm1::put_on_clipboard(const EmfPicture& picture) {
#ifdef Q_OS_WIN
    // Programs on Windows take a metafile as a handle, which Qt's clipboard cannot offer.
    HENHMETAFILE handle = SetEnhMetaFileBits(static_cast<UINT>(picture.bytes.size()),
                                             reinterpret_cast<const BYTE*>(picture.bytes.data()));
    if (!handle) return false;
    if (!OpenClipboard(reinterpret_cast<HWND>(winId()))) {
        DeleteEnhMetaFile(handle);
        return false;
    }
    EmptyClipboard();
    const bool set = SetClipboardData(CF_ENHMETAFILE, handle) != nullptr;
    if (!set) DeleteEnhMetaFile(handle);
    CloseClipboard();
    return set;
#else
    QGuiApplication::clipboard()->setMimeData(picture_mime_data(picture).release());
    return true;
#endif
}

std::optional<QString> TForm1::run_file_dialog(const FileDialogRequest& request) {
    QFileDialog dialog(this);
    dialog.setObjectName(request.name);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setNameFilter(request.filter);
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (!request.default_suffix.isEmpty()) dialog.setDefaultSuffix(request.default_suffix);
    if (!request.selected.isEmpty())
        dialog.selectFile(request.selected);
    else
        dialog.setDirectory(QDir::currentPath());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().front();
}

std::optional<QString> TForm1::choose_file(FileDialogRequest request) {
    request.selected = last_chosen_.value(request.name);
    std::optional<QString> path = file_dialog_hook_ ? file_dialog_hook_(request) : run_file_dialog(request);
    if (!path || path->isEmpty()) return std::nullopt;
    last_chosen_[request.name] = *path;
    // A chosen file makes its folder the current directory, as the system file dialogs of
    // the desktop this program comes from do; graph.emf is written there.
    QDir::setCurrent(QFileInfo(*path).absolutePath());
    return path;
}

void TForm1::tone_loadClick() {
    const auto path = choose_file({QStringLiteral("OpenDialog2"), false, tr("塗りつぶし色の定義(*.ktc)"), {}, {}});
    if (!path) return;  // a cancel keeps the grid and its edits
    show_tone_table(file_name_bytes(*path));
}

void TForm1::pen_loadClick() {
    const auto path = choose_file({QStringLiteral("OpenDialog3"), false, tr("線色の定義(*.klc)"), {}, {}});
    if (!path) return;
    show_line_color_table(file_name_bytes(*path));
}

void TForm1::tone_saveClick() {
    const auto path =
        choose_file({QStringLiteral("SaveDialog1"), true, tr("塗りつぶし色の定義(*.ktc)"), QStringLiteral("ktc"), {}});
    if (!path) return;  // a cancel writes nothing
    save_tone_table(file_name_bytes(*path), StringGrid1->cells4(), held_.tone.count, log_);
}

void TForm1::pen_saveClick() {
    const auto path =
        choose_file({QStringLiteral("SaveDialog2"), true, tr("線色の定義(*.klc)"), QStringLiteral("klc"), {}});
    if (!path) return;
    save_line_color_table(file_name_bytes(*path), StringGrid3->cells4(), log_);
}

QStringList TForm1::log_lines() const {
    const QString text = Memo1->toPlainText();
    if (text.isEmpty() && Memo1->document()->blockCount() <= 1) return {};
    return text.split(QLatin1Char('\n'));
}

}  // namespace plotmint
