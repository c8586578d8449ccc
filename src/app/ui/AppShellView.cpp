#include "app/ui/AppShellView.h"

#include "app/HelpLinks.h"
#include "app/SupportPromptController.h"
#include "app/ui/EditCommands.h"
#include "app/ui/FindCommands.h"
#include "app/ui/SidebarView.h"
#include "app/ui/ToolHost.h"
#include "app/ui/WebToolsLoader.h"
#include "kit/ui/Tool.h"
#include "kit/ui/ToolView.h"
#include "kit/ui/ContentUnavailableView.h"
#include "kit/ui/SymbolIcon.h"

#include <QApplication>
#include <QFileInfo>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QStackedWidget>

#include <memory>

static const QString selectedToolKey = QStringLiteral("selectedToolID");

AppShellView::AppShellView(QSettings& defaults, QWidget* parent)
    : QMainWindow(parent), m_defaults(defaults), m_host(new ToolHost(defaults, this)), m_sidebar(new SidebarView),
      m_detail(new QStackedWidget)
{
    WebToolsLoader::install();
    setWindowTitle(QStringLiteral("Quorrix"));
    setWindowIcon(symbolIcon(QStringLiteral("app")));
    resize(1180, 740);

    m_sidebar->setMinimumWidth(200);
    m_sidebar->setMaximumWidth(320);
    m_pending = new QWidget;
    m_pending->installEventFilter(this);
    m_detail->addWidget(m_pending);

    auto* split = new QSplitter(Qt::Horizontal);
    split->setChildrenCollapsible(false);
    split->addWidget(m_sidebar);
    split->addWidget(m_detail);
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    split->setSizes({230, 950});
    // The split view itself, below the menu bar, is at least 980 by 580.
    split->setMinimumSize(980, 580);
    setCentralWidget(split);

    m_alert = [this](const QString& message, const QString& informative) {
        QMessageBox box(this);
        box.setTextFormat(Qt::PlainText);
        box.setIcon(QMessageBox::Warning);
        box.setText(message);
        box.setInformativeText(informative);
        box.setStandardButtons(QMessageBox::Ok);
        box.exec();
    };

    m_edits = new EditCommands(this);
    buildMenus();
    connect(m_sidebar, &SidebarView::selectionChanged, this, &AppShellView::setSelectedToolID);

    m_donationTimer.setSingleShot(true);
    m_donationTimer.setInterval(1000);
    connect(&m_donationTimer, &QTimer::timeout, this, &AppShellView::runDonationCheck);

    // A stored value of another type reads as no string: start on the first tool.
    const QVariant stored = m_defaults.value(selectedToolKey);
    QString id = ToolHost::firstTool().id();
    if (stored.metaType().id() == QMetaType::QString)
        id = stored.toString();
    m_selectedToolID = id;
    m_sidebar->setSelection(id);
    showDetail();
}

AppShellView::~AppShellView() = default;

void AppShellView::setSelectedToolID(const QString& id)
{
    if (id == m_selectedToolID)
        return;
    m_selectedToolID = id;
    m_defaults.setValue(selectedToolKey, id);
    m_sidebar->setSelection(id);
    showDetail();
}

void AppShellView::showDetail()
{
    const Tool* tool = ToolHost::tool(m_selectedToolID);
    QWidget* view = nullptr;
    if (!tool) {
        // Made only when needed: its large title would load fonts before the first paint.
        if (!m_placeholder) {
            m_placeholder = new ContentUnavailableView(
                QStringLiteral("Pick a tool"), QStringLiteral("sidebar.left"),
                QStringLiteral("Choose a tool from the sidebar to get started."), QPalette::Highlight);
            m_detail->addWidget(m_placeholder);
        }
        view = m_placeholder;
    } else {
        // A tool's view is made the first time it is shown and kept, so no web engine starts
        // before its tool is chosen; the first one waits for the window's first paint, so the
        // window appears before any tool's engine starts.
        view = m_views.value(tool->id());
        if (!view && m_painted)
            view = makeToolView(*tool);
        if (!view)
            view = m_pending;
    }
    m_detail->setCurrentWidget(view);
    updateOpenAction();
    updateTitle();
}

ToolView* AppShellView::makeToolView(const Tool& tool)
{
    ToolView* view = tool.makeView(m_host->viewModel(tool.id()));
    // A view whose library did not load: the detail column stays empty.
    if (!view)
        return nullptr;
    m_views.insert(tool.id(), view);
    m_detail->addWidget(view);
    connect(view, &ToolView::titleChanged, this, &AppShellView::updateTitle);
    return view;
}

bool AppShellView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_pending && event->type() == QEvent::Paint && !m_painted) {
        m_painted = true;
        // After this paint has reached the screen, and once the web views' library has loaded
        // off this thread (the engine's libraries alone would hold it up for long).
        QTimer::singleShot(0, this, [this] { WebToolsLoader::preload(this, [this] { showDetail(); }); });
    }
    return QMainWindow::eventFilter(watched, event);
}

void AppShellView::updateOpenAction()
{
    if (!m_openAction)
        return;
    QWidget* active = QApplication::activeWindow();
    const bool published = !active || active == this;
    m_openAction->setEnabled(
        FileCommands::openEnabled(published ? std::optional<bool>(activeToolOpensFiles()) : std::nullopt));
}

void AppShellView::updateTitle()
{
    // No window subtitles here: the tool's subtitle joins the title.
    const ToolView* view = m_views.value(m_selectedToolID);
    const QString title = view && !view->title().isEmpty() ? view->title() : QStringLiteral("Quorrix");
    const QString subtitle = view ? view->subtitle() : QString();
    setWindowTitle(subtitle.isEmpty() ? title : QStringLiteral("%1 \u2014 %2").arg(title, subtitle));
}

ToolView* AppShellView::toolView()
{
    // Asked for before the first paint: made now.
    const Tool* tool = ToolHost::tool(m_selectedToolID);
    if (tool && !m_views.contains(tool->id())) {
        makeToolView(*tool);
        showDetail();
    }
    return m_views.value(m_selectedToolID);
}

QWidget* AppShellView::detailView()
{
    toolView();
    return m_detail->currentWidget();
}

bool AppShellView::activeToolOpensFiles() const
{
    const Tool* tool = ToolHost::tool(m_selectedToolID);
    return tool && tool->acceptsFiles();
}

bool AppShellView::activeToolRunsOwnFind() const
{
    const ToolView* view = m_views.value(m_selectedToolID);
    return view && view->runsOwnFind();
}

void AppShellView::openUrl(const QUrl& url)
{
    if (!url.isLocalFile())
        return;
    if (const std::optional<QString> id = m_host->open(url)) {
        setSelectedToolID(*id);
        return;
    }
    const QString name = QFileInfo(url.path()).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot >= 0 ? name.mid(dot + 1) : QString();
    m_alert(QStringLiteral("Quorrix cannot open \u201C%1\u201D.").arg(name),
            QStringLiteral("No tool accepts the .%1 extension.").arg(extension));
}

void AppShellView::buildMenus()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    m_openAction = file->addAction(QStringLiteral("Open\u2026"));
    m_openAction->setShortcut(QKeySequence::Open);
    // Reachable from the acknowledgements window too, where no tool says whether it opens files.
    m_openAction->setShortcutContext(Qt::ApplicationShortcut);
    connect(qApp, &QApplication::focusChanged, this, &AppShellView::updateOpenAction);
    connect(m_openAction, &QAction::triggered, this, [this] {
        show();
        raise();
        activateWindow();
        // After the window has come forward and this event is done.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (ToolView* view = toolView())
                    view->openFile();
            },
            Qt::QueuedConnection);
    });
    file->addSeparator();
    QAction* quit = file->addAction(QStringLiteral("Quit"));
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);
    connect(quit, &QAction::triggered, qApp, &QApplication::closeAllWindows);

    QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    const struct {
        const char* title;
        QKeySequence::StandardKey key;
        EditCommands::Action action;
        bool separatorAfter;
    } edits[] = {
        {"Undo", QKeySequence::Undo, EditCommands::Action::undo, false},
        {"Redo", QKeySequence::Redo, EditCommands::Action::redo, true},
        {"Cut", QKeySequence::Cut, EditCommands::Action::cut, false},
        {"Copy", QKeySequence::Copy, EditCommands::Action::copy, false},
        {"Paste", QKeySequence::Paste, EditCommands::Action::paste, false},
        {"Select All", QKeySequence::SelectAll, EditCommands::Action::selectAll, true},
    };
    for (const auto& entry : edits) {
        QAction* action = edit->addAction(QString::fromUtf8(entry.title));
        action->setShortcut(entry.key);
        const EditCommands::Action code = entry.action;
        connect(action, &QAction::triggered, this, [this, code] { m_edits->perform(code); });
        if (entry.separatorAfter)
            edit->addSeparator();
    }
    QMenu* find = edit->addMenu(QStringLiteral("Find"));
    const struct {
        const char* title;
        QKeySequence key;
        ToolView::FindAction action;
    } finds[] = {
        {"Find\u2026", QKeySequence::Find, ToolView::FindAction::showFindInterface},
        {"Find Next", QKeySequence::FindNext, ToolView::FindAction::nextMatch},
        {"Find Previous", QKeySequence::FindPrevious, ToolView::FindAction::previousMatch},
    };
    for (const auto& entry : finds) {
        QAction* action = find->addAction(QString::fromUtf8(entry.title));
        action->setShortcut(entry.key);
        action->setShortcutContext(Qt::ApplicationShortcut);
        const ToolView::FindAction code = entry.action;
        connect(action, &QAction::triggered, this, [this, code] {
            // Another active window publishes no tool of its own.
            const bool mainIsActive = QApplication::activeWindow() == this || !QApplication::activeWindow();
            FindCommands::perform(code, mainIsActive ? toolView() : nullptr, QApplication::focusWidget());
        });
    }

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    connect(help->addAction(QStringLiteral("Quorrix Support")), &QAction::triggered, this,
            [] { HelpLinks::openLink(HelpLinks::supportPage()); });
    connect(help->addAction(QStringLiteral("Send Feedback\u2026")), &QAction::triggered, this, [] {
        if (const auto link = HelpLinks::feedbackMailLink())
            HelpLinks::openLink(*link);
    });
    connect(help->addAction(HelpLinks::socialHandle), &QAction::triggered, this,
            [] { HelpLinks::openLink(HelpLinks::socialProfile()); });
    help->addSeparator();
    connect(help->addAction(QStringLiteral("Privacy Policy")), &QAction::triggered, this,
            [] { HelpLinks::openAddress(HelpLinks::privacyAddress); });
    connect(help->addAction(QStringLiteral("Acknowledgements")), &QAction::triggered, this,
            &AppShellView::acknowledgementsRequested);
}

void AppShellView::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    m_donationTimer.start();
}

void AppShellView::hideEvent(QHideEvent* event)
{
    QMainWindow::hideEvent(event);
    // Closed within the second: nothing is recorded.
    m_donationTimer.stop();
}

void AppShellView::runDonationCheck()
{
    SupportPromptController& prompt = *m_host->supportPrompt();
    prompt.recordLaunch(QDateTime::currentDateTime());
    if (!prompt.shouldShowSupportPrompt(QDateTime::currentDateTime()))
        return;
    prompt.markShown(QDateTime::currentDateTime());
    showDonationAlert();
}

QMessageBox* AppShellView::makeDonationAlert()
{
    auto* box = new QMessageBox(this);
    box->setTextFormat(Qt::PlainText);
    box->setText(QStringLiteral("Support Quorrix"));
    box->setInformativeText(QStringLiteral("Quorrix is free and has no ads, no analytics and no account. "
                                           "If it saves you time, you can chip in through %1.")
                                .arg(HelpLinks::donationServiceName));
    // One role for all three keeps them in this order whatever the desktop's button layout.
    QPushButton* donate = box->addButton(HelpLinks::donationServiceName, QMessageBox::ActionRole);
    QPushButton* notNow = box->addButton(QStringLiteral("Not now"), QMessageBox::ActionRole);
    box->addButton(QStringLiteral("Don't show again"), QMessageBox::ActionRole);
    box->setDefaultButton(donate);
    box->setEscapeButton(notNow);
    return box;
}

void AppShellView::showDonationAlert()
{
    std::unique_ptr<QMessageBox> box(makeDonationAlert());
    box->exec();
    const QString clicked = box->clickedButton() ? box->clickedButton()->text() : QString();
    if (clicked == HelpLinks::donationServiceName)
        HelpLinks::openAddress(HelpLinks::donationAddress);
    else if (clicked == QStringLiteral("Don't show again"))
        m_host->supportPrompt()->optOut();
}
