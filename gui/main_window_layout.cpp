// The window's layout: the tabs, the grids, the button bars, the menus and the popup menus.
#include "gui/main_window.h"

#include "gui/image_list.h"
#include "gui/thumbnail_grid.h"

#include <QAction>
#include <QActionGroup>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace skarvel {

namespace {

QPlainTextEdit* makeMemo(const QString& name, QWidget* parent) {
    auto* memo = new QPlainTextEdit(parent);
    memo->setObjectName(name);
    memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    return memo;
}

QAction* makeAction(QObject* parent, const QString& name, const QString& caption,
                    const QKeySequence& shortcut = {}) {
    auto* action = new QAction(caption, parent);
    action->setObjectName(name);
    if (!shortcut.isEmpty()) {
        action->setShortcut(shortcut);
        action->setShortcutContext(Qt::WindowShortcut);
    }
    return action;
}

} // namespace

void TForm1::buildUi() {
    buildPopupMenus();
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("Central"));
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    PageControl1 = new QTabWidget(central);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    const struct {
        Tab tab;
        QWidget* page;
        QString caption;
    } tabs[] = {
        {Tab::Urls, buildUrlsTab(), QStringLiteral("URLs list")},
        {Tab::Files, buildFilesTab(), QStringLiteral("Get files")},
        {Tab::Pictures, buildPicturesTab(), QStringLiteral("Get pictures")},
        {Tab::Sounds, buildSoundsTab(), QStringLiteral("Get sounds")},
        {Tab::Videos, buildVideosTab(), QStringLiteral("Get video")},
        {Tab::Texts, buildTextsTab(), QStringLiteral("Get text")},
    };
    for (const auto& t : tabs) {
        const int index = PageControl1->addTab(t.page, t.caption);
        Q_ASSERT(index == int(t.tab));
    }
    for (int i = 0; i < PageControl1->count(); ++i)
        PageControl1->widget(i)->setObjectName(QStringLiteral("TabSheet%1").arg(i + 1));
    layout->addWidget(PageControl1, 1);

    for (int i = 1; i <= 6; ++i) {
        auto* bar = new QStatusBar(central);
        bar->setObjectName(QStringLiteral("StatusBar%1").arg(i));
        bar->setSizeGripEnabled(false);
        if (i == 1)
            for (int w : {200, 200, 50}) {
                auto* panel = new QLabel(bar);
                panel->setFixedWidth(w);
                bar->addWidget(panel);
            }
        layout->addWidget(bar);
        statusBars.push_back(bar);
    }
    setCentralWidget(central);
    connect(PageControl1, &QTabWidget::currentChanged, this, &TForm1::PageControl1Change);

    const std::pair<QPushButton*, int> buttons[] = {
        {BitBtn1, 1},   {BitBtn2, 2},   {BitBtn3, 3},   {BitBtn4, 4},  {BitBtn5, 5},
        {BitBtn6, 6},   {BitBtn7, 7},   {BitBtn8, 8},   {BitBtn9, 9},  {BitBtn10, 10},
        {BitBtn11, 11}, {BitBtn12, 12}, {BitBtn13, 13}, {BitBtn14, 14}};
    for (const auto& [button, number] : buttons)
        button->setObjectName(QStringLiteral("BitBtn%1").arg(number));
    SetGlyph(BitBtn6, Glyph::SourceList);
    for (QPushButton* b : {BitBtn7, BitBtn1, BitBtn8, BitBtn9, BitBtn12})
        SetGlyph(b, Glyph::Download);
    for (QPushButton* b : {BitBtn5, BitBtn4, BitBtn10, BitBtn13})
        SetGlyph(b, Glyph::Save);
    for (QPushButton* b : {BitBtn2, BitBtn3, BitBtn11, BitBtn14})
        SetGlyph(b, Glyph::Database);
    connect(BitBtn1, &QPushButton::clicked, this, &TForm1::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TForm1::BitBtn2Click);
    connect(BitBtn3, &QPushButton::clicked, this, &TForm1::BitBtn3Click);
    connect(BitBtn4, &QPushButton::clicked, this, &TForm1::BitBtn4Click);
    connect(BitBtn5, &QPushButton::clicked, this, &TForm1::BitBtn5Click);
    connect(BitBtn6, &QPushButton::clicked, this, &TForm1::BitBtn6Click);
    connect(BitBtn7, &QPushButton::clicked, this, &TForm1::BitBtn7Click);
    connect(BitBtn8, &QPushButton::clicked, this, &TForm1::BitBtn8Click);
    connect(BitBtn9, &QPushButton::clicked, this, &TForm1::BitBtn9Click);
    connect(BitBtn10, &QPushButton::clicked, this, &TForm1::BitBtn10Click);
    connect(BitBtn11, &QPushButton::clicked, this, &TForm1::BitBtn11Click);
    connect(BitBtn12, &QPushButton::clicked, this, &TForm1::BitBtn12Click);
    connect(BitBtn13, &QPushButton::clicked, this, &TForm1::BitBtn13Click);
    connect(BitBtn14, &QPushButton::clicked, this, &TForm1::BitBtn14Click);

    buildMenus();

    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(2000);
    connect(Timer2, &QTimer::timeout, this, &TForm1::Timer2Timer);
    Timer3 = new QTimer(this);
    Timer3->setObjectName(QStringLiteral("Timer3"));
    Timer3->setInterval(1000);
    connect(Timer3, &QTimer::timeout, this, &TForm1::Timer3Timer);
    Timer3->start();
}

QWidget* TForm1::makeButtonBar(QProgressBar*& bar, const QString& barName,
                               const std::vector<std::pair<QPushButton**, QString>>& buttons) {
    auto* panel = new QWidget;
    panel->setFixedHeight(41);
    auto* row = new QHBoxLayout(panel);
    row->setContentsMargins(3, 3, 3, 3);
    bar = new QProgressBar(panel);
    bar->setObjectName(barName);
    bar->setTextVisible(false);
    bar->setValue(0);
    bar->hide();
    row->addWidget(bar, 1);
    auto* spacer = new QWidget(panel);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    row->addWidget(spacer, 0);
    for (const auto& [button, caption] : buttons) {
        auto* b = new QPushButton(caption, panel);
        b->setFixedSize(130, 35);
        *button = b;
        row->addWidget(b);
    }
    return panel;
}

QTableView* TForm1::makeGrid(const QString& name, CollectionTable* model, QMenu* popup) {
    auto* grid = new QTableView;
    grid->setObjectName(name);
    grid->setModel(model);
    grid->verticalHeader()->hide();
    grid->verticalHeader()->setDefaultSectionSize(18);
    grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    grid->horizontalHeader()->setHighlightSections(false);
    grid->setWordWrap(false);
    grid->setEditTriggers(model->isEditable()
                              ? (QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                                 QAbstractItemView::AnyKeyPressed)
                              : QAbstractItemView::NoEditTriggers);
    const auto columns = tableColumns(model->kind());
    for (int c = 0; c < int(columns.size()); ++c)
        grid->setColumnWidth(c, columns[size_t(c)].width);
    grid->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(grid, &QWidget::customContextMenuRequested, this,
            [grid, popup](const QPoint& pos) { popup->popup(grid->viewport()->mapToGlobal(pos)); });
    return grid;
}

QWidget* TForm1::buildUrlsTab() {
    auto* tab = new QWidget;
    auto* layout = new QVBoxLayout(tab);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* splitter = new QSplitter(Qt::Vertical, tab);
    splitter->setObjectName(QStringLiteral("Splitter1"));
    auto* top = new QWidget(splitter);
    auto* topLayout = new QVBoxLayout(top);
    topLayout->setContentsMargins(3, 3, 3, 0);
    auto* label = new QLabel(QStringLiteral("URLs list (all data will be grabed from this pages)"), top);
    label->setObjectName(QStringLiteral("Label1"));
    URLs_List = makeMemo(QStringLiteral("URLs_List"), top);
    URLs_List->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(URLs_List, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { PopupMenu5->popup(URLs_List->viewport()->mapToGlobal(pos)); });
    topLayout->addWidget(label);
    topLayout->addWidget(URLs_List, 1);
    auto* bottom = new QWidget(splitter);
    bottom->setObjectName(QStringLiteral("Panel1"));
    auto* bottomLayout = new QVBoxLayout(bottom);
    bottomLayout->setContentsMargins(3, 0, 3, 0);
    auto* label2 = new QLabel(QStringLiteral("Source links (if information have three structure)"), bottom);
    label2->setObjectName(QStringLiteral("Label2"));
    Source_Links = makeMemo(QStringLiteral("Source_Links"), bottom);
    bottomLayout->addWidget(label2);
    bottomLayout->addWidget(Source_Links, 1);
    splitter->addWidget(top);
    splitter->addWidget(bottom);
    splitter->setStretchFactor(0, 1);
    splitter->setSizes({450, 126});
    layout->addWidget(splitter, 1);
    layout->addWidget(makeButtonBar(ProgressBar3, QStringLiteral("ProgressBar3"),
                                    {{&BitBtn6, QStringLiteral("Make URLs list from source pages")}}));
    BitBtn6->setFixedSize(204, 35);
    return tab;
}

QWidget* TForm1::buildFilesTab() {
    auto* tab = new QWidget;
    auto* layout = new QVBoxLayout(tab);
    layout->setContentsMargins(0, 0, 0, 0);
    StringGrid3 = makeGrid(QStringLiteral("StringGrid3"), fileTable, PopupMenu7);
    layout->addWidget(StringGrid3, 1);
    layout->addWidget(makeButtonBar(ProgressBar2, QStringLiteral("ProgressBar2"),
                                    {{&BitBtn7, QStringLiteral("Download files")}}));
    return tab;
}

QWidget* TForm1::buildPicturesTab() {
    auto* tab = new QWidget;
    auto* layout = new QVBoxLayout(tab);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* splitter = new QSplitter(Qt::Vertical, tab);
    splitter->setObjectName(QStringLiteral("Splitter2"));
    StringGrid1 = makeGrid(QStringLiteral("StringGrid1"), pictureTable, PopupMenu2);
    DrawGrid1 = new ThumbnailGrid;
    DrawGrid1->setObjectName(QStringLiteral("DrawGrid1"));
    DrawGrid1->drawCell = [this](QPainter& p, int c, int r, const QRect& rect) {
        drawThumbnail(p, c, r, rect);
    };
    splitter->addWidget(StringGrid1);
    splitter->addWidget(DrawGrid1);
    splitter->setStretchFactor(0, 1);
    splitter->setSizes({330, 217});
    layout->addWidget(splitter, 1);
    layout->addWidget(makeButtonBar(ProgressBar1, QStringLiteral("ProgressBar1"),
                                    {{&BitBtn1, QStringLiteral("Download pictures")},
                                     {&BitBtn5, QStringLiteral("Save collection")},
                                     {&BitBtn2, QStringLiteral("Export to SQLite")}}));
    connect(StringGrid1, &QTableView::clicked, this, &TForm1::StringGrid1Click);
    connect(DrawGrid1, &ThumbnailGrid::cellClicked, this, &TForm1::DrawGrid1Click);
    connect(DrawGrid1, &ThumbnailGrid::cellDoubleClicked, this, &TForm1::DrawGrid1DblClick);
    return tab;
}

QWidget* TForm1::buildSoundsTab() {
    return buildMediaTab(StringGrid2, QStringLiteral("StringGrid2"), soundTable, PopupMenu3, ProgressBar4,
                         QStringLiteral("ProgressBar4"),
                         {{&BitBtn8, QStringLiteral("Download sounds")},
                          {&BitBtn4, QStringLiteral("Save collection")},
                          {&BitBtn3, QStringLiteral("Export to SQLite")}});
}

QWidget* TForm1::buildVideosTab() {
    return buildMediaTab(StringGrid4, QStringLiteral("StringGrid4"), videoTable, PopupMenu6, ProgressBar5,
                         QStringLiteral("ProgressBar5"),
                         {{&BitBtn9, QStringLiteral("Download videos")},
                          {&BitBtn10, QStringLiteral("Save collection")},
                          {&BitBtn11, QStringLiteral("Export to SQLite")}});
}

QWidget* TForm1::buildMediaTab(QTableView*& grid, const QString& gridName, CollectionTable* table,
                               QMenu* popup, QProgressBar*& bar, const QString& barName,
                               const std::vector<std::pair<QPushButton**, QString>>& buttons) {
    auto* tab = new QWidget;
    auto* layout = new QVBoxLayout(tab);
    layout->setContentsMargins(0, 0, 0, 0);
    grid = makeGrid(gridName, table, popup);
    layout->addWidget(grid, 1);
    layout->addWidget(makeButtonBar(bar, barName, buttons));
    return tab;
}

QWidget* TForm1::buildTextsTab() {
    auto* tab = new QWidget;
    auto* layout = new QVBoxLayout(tab);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* splitter = new QSplitter(Qt::Vertical, tab);
    splitter->setObjectName(QStringLiteral("Splitter3"));
    StringGrid5 = makeGrid(QStringLiteral("StringGrid5"), textTable, PopupMenu4);
    StringGrid5->setSelectionBehavior(QAbstractItemView::SelectRows);
    Memo_Text_Preview = new QPlainTextEdit;
    Memo_Text_Preview->setObjectName(QStringLiteral("Memo_Text_Preview"));
    Memo_Text_Preview->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    splitter->addWidget(StringGrid5);
    splitter->addWidget(Memo_Text_Preview);
    splitter->setStretchFactor(0, 1);
    splitter->setSizes({430, 118});
    layout->addWidget(splitter, 1);
    layout->addWidget(makeButtonBar(ProgressBar6, QStringLiteral("ProgressBar6"),
                                    {{&BitBtn12, QStringLiteral("Download texts")},
                                     {&BitBtn13, QStringLiteral("Save collection")},
                                     {&BitBtn14, QStringLiteral("Export to SQLite")}}));
    connect(StringGrid5, &QTableView::clicked, this, &TForm1::StringGrid5Click);
    return tab;
}

void TForm1::buildMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));

    QMenu* file = bar->addMenu(QStringLiteral("File"));
    file->setObjectName(QStringLiteral("File1"));
    auto* newItem =
        makeAction(this, QStringLiteral("New1"), QStringLiteral("New"), QKeySequence(Qt::CTRL | Qt::Key_N));
    auto* save = makeAction(this, QStringLiteral("Savepicturecollection1"), QStringLiteral("Save collection"),
                            QKeySequence(Qt::CTRL | Qt::Key_S));
    auto* exportItem =
        makeAction(this, QStringLiteral("ExportcollectiontoSQLite1"),
                   QStringLiteral("Export collection to SQLite"), QKeySequence(Qt::CTRL | Qt::Key_E));
    auto* exitItem = makeAction(this, QStringLiteral("Exit1"), QStringLiteral("Exit"));
    file->addAction(newItem);
    file->addSeparator();
    file->addAction(save);
    file->addAction(exportItem);
    file->addSeparator();
    file->addAction(exitItem);
    connect(newItem, &QAction::triggered, this, &TForm1::New1Click);
    connect(save, &QAction::triggered, this, &TForm1::Savepicturecollection1Click);
    connect(exportItem, &QAction::triggered, this, &TForm1::ExportcollectiontoSQLite1Click);
    connect(exitItem, &QAction::triggered, this, &TForm1::Exit1Click);

    QMenu* edit = bar->addMenu(QStringLiteral("Edit"));
    edit->setObjectName(QStringLiteral("Edit1"));
    auto* selection = makeAction(this, QStringLiteral("Selection1"), QStringLiteral("Data selection"),
                                 QKeySequence(Qt::CTRL | Qt::Key_D));
    auto* names = makeAction(this, QStringLiteral("Filenames1"), QStringLiteral("File names"),
                             QKeySequence(Qt::CTRL | Qt::Key_F));
    edit->addAction(selection);
    edit->addAction(names);
    connect(selection, &QAction::triggered, this, &TForm1::Selection1Click);
    connect(names, &QAction::triggered, this, &TForm1::Filenames1Click);

    QMenu* style = bar->addMenu(QStringLiteral("Style"));
    style->setObjectName(QStringLiteral("Skin1"));
    m_styleGroup = new QActionGroup(this);
    m_styleGroup->setExclusive(true);
    for (const QString& name : StyleNames()) {
        QString objectName = name;
        objectName.remove(u' ');
        auto* item = makeAction(this, objectName + QStringLiteral("1"), name);
        item->setCheckable(true);
        item->setChecked(name == kDefaultStyle);
        m_styleGroup->addAction(item);
        style->addAction(item);
        styleActions.push_back(item);
    }
    connect(m_styleGroup, &QActionGroup::triggered, this, &TForm1::StyleItemClick);

    QMenu* options = bar->addMenu(QStringLiteral("Options"));
    options->setObjectName(QStringLiteral("Options1"));
    auto* parameters = makeAction(this, QStringLiteral("Parameters1"), QStringLiteral("Parameters"),
                                  QKeySequence(Qt::CTRL | Qt::Key_P));
    options->addAction(parameters);
    connect(parameters, &QAction::triggered, this, &TForm1::Parameters1Click);

    QMenu* help = bar->addMenu(QStringLiteral("Help"));
    help->setObjectName(QStringLiteral("Help1"));
    auto* manual = makeAction(this, QStringLiteral("Manual1"), QStringLiteral("Manual"));
    auto* about = makeAction(this, QStringLiteral("About1"), QStringLiteral("About"));
    help->addAction(manual);
    help->addSeparator();
    help->addAction(about);
    connect(manual, &QAction::triggered, this, &TForm1::Manual1Click);
    connect(about, &QAction::triggered, this, &TForm1::About1Click);

    // Shortcuts of the menu bar work while the window has focus.
    addActions({newItem, save, exportItem, selection, names, parameters});
}

void TForm1::buildPopupMenus() {
    auto menu = [this](const QString& name) {
        auto* m = new QMenu(this);
        m->setObjectName(name);
        return m;
    };
    auto item = [this](QMenu* m, const QString& name, const QString& caption, void (TForm1::*slot)()) {
        auto* a = makeAction(m, name, caption);
        m->addAction(a);
        if (slot)
            connect(a, &QAction::triggered, this, slot);
        return a;
    };
    PopupMenu1 = menu(QStringLiteral("PopupMenu1"));
    item(PopupMenu1, "Endpagesdownload1", "End pages download", &TForm1::Endpagesdownload1Click);
    item(PopupMenu1, "Endsoundpagesdownload1", "End sound pages download",
         &TForm1::Endsoundpagesdownload1Click);
    item(PopupMenu1, "Endvideopagesdownload1", "End video pages download",
         &TForm1::Endvideopagesdownload1Click);
    item(PopupMenu1, "Directorystructure1", "Directory structure", &TForm1::Directorystructure1Click);
    item(PopupMenu1, "Newnames1", "New names", nullptr);

    PopupMenu2 = menu(QStringLiteral("PopupMenu2"));
    item(PopupMenu2, "Deleterow3", "Delete row", &TForm1::Deleterow3Click);
    PopupMenu2->addSeparator();
    item(PopupMenu2, "Continuedownload1", "Continue download", &TForm1::Continuedownload1Click);
    item(PopupMenu2, "Downloadagain1", "Download again", &TForm1::Downloadagain1Click);

    PopupMenu3 = menu(QStringLiteral("PopupMenu3"));
    item(PopupMenu3, "Deleterow2", "Delete row", &TForm1::Deleterow2Click);
    PopupMenu3->addSeparator();
    item(PopupMenu3, "Play1", "Play", &TForm1::Play1Click);
    item(PopupMenu3, "Stop1", "Stop", &TForm1::Stop1Click);

    PopupMenu4 = menu(QStringLiteral("PopupMenu4"));
    item(PopupMenu4, "Delete1", "Delete row", &TForm1::Delete1Click);
    PopupMenu4->addSeparator();
    item(PopupMenu4, "ExtractlastURL1", "Extract last URL", nullptr);
    item(PopupMenu4, "Continuedownload2", "Continue download", nullptr);
    item(PopupMenu4, "Downloadagain2", "Download again", nullptr);

    PopupMenu5 = menu(QStringLiteral("PopupMenu5"));
    item(PopupMenu5, "Selectall1", "Select all and copy to Clipboard", &TForm1::Selectall1Click);
    item(PopupMenu5, "PastefromClipboard1", "Paste from Clipboard", &TForm1::PastefromClipboard1Click);
    PopupMenu5->addSeparator();
    item(PopupMenu5, "Clear1", "Clear", &TForm1::Clear1Click);
    PopupMenu5->addSeparator();
    item(PopupMenu5, "ExtractlastURLinline1", "Extract last URL in line",
         &TForm1::ExtractlastURLinline1Click);
    item(PopupMenu5, "Filter1", "Filter", &TForm1::Filter1Click);

    PopupMenu6 = menu(QStringLiteral("PopupMenu6"));
    item(PopupMenu6, "Deleterow1", "Delete row", &TForm1::Deleterow1Click);
    PopupMenu6->addSeparator();
    item(PopupMenu6, "Playvideo1", "Play video", &TForm1::Playvideo1Click);

    PopupMenu7 = menu(QStringLiteral("PopupMenu7"));
    item(PopupMenu7, "Deleterow4", "Delete row", &TForm1::Deleterow4Click);
}

} // namespace skarvel
