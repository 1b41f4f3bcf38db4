#include "app/Main_Form.h"

#include <QAction>
#include <QCloseEvent>
#include <QFont>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPalette>
#include <QPen>
#include <QResizeEvent>
#include <QScreen>
#include <QStyle>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

#include <algorithm>
#include <string_view>

#include "app/Application.h"
#include "app/Pictures.h"
#include "app/Widgets.h"
#include "app/WindowWait.h"
#include "controls/RzFilSys.h"
#include "core/Exceptions.h"
#include "core/ScopeGuard.h"
#include "platform/Process.h"
#include "platform/WindowLayer.h"
#include "restore/Figures.h"
#include "restore/RestoreErrors.h"
#include "restore/RestoreJob.h"
#include "services/IB_Services.h"

namespace {

const QColor kFormColor(239, 235, 222);

const char* const kSelectBackupText = "빽업할 파일명을 선택하세요";
const char* const kSelectTargetText = "복구될 파일명을 선택하세요";
const char* const kSelectCaption = "파일선택";
const char* const kDoneCaption = "복구완료";
const char* const kDoneText =
    "[자료복구완료] 정상적으로 백업파일을 복구완료했습니다.\r\r         "
    "프로그램을 다시 실행시키세요...";
// Said before the completion when the restore succeeded but the original's
// copy, moved aside for it, could not be deleted: a whole old database would
// otherwise wait in Data unannounced.
const char* const kLeftoverCaption = "기존 자료 파일";
const char* const kLeftoverText =
    "복구는 정상적으로 끝났으나 옮겨 두었던 기존 자료 파일을 지우지 못해 다음 이름으로 남아 "
    "있습니다. 필요 없으면 직접 지우세요:\r\n";
// Said when the server ended a restore without an error but left the new
// database unfinished (still in maintenance mode) where there was no
// database before: the file at the target is that unfinished one.
const char* const kUnfinishedText =
    "복구된 자료 파일이 완전하지 않습니다 (빽업 파일이 손상되었을 수 있습니다): ";
// The same, when an original database was there: by the time the operator
// reads this, the original is back under its name (or kept aside, below).
const char* const kNotRestoredText =
    "빽업 파일이 완전하게 복구되지 않았습니다 (빽업 파일이 손상되었을 수 있습니다).";
const char* const kOriginalBackText =
    "기존 자료 파일은 바뀌지 않은 채 제자리에 되돌려 놓았습니다: ";
// Said after a failed restore whose original database could not be put back
// under its own name, so the operator knows where it is kept. Names are
// quoted so that the error display's full stop does not look like part of them.
const char* const kOriginalKeptText = "기존 자료 파일은 다음 이름으로 보관되어 있습니다: ";
// Refusals before the restore starts; the server's own text would point the
// operator at a switch this tool does not have.
const char* const kTargetInUseText =
    "복구될 자료 파일을 데이터베이스 서버가 사용하고 있어 복구하지 않았습니다. "
    "사용을 마친 뒤 다시 하세요: ";
// The probe could not tell whether the server has the file open (the
// reason is the system's own): refused as if it had, but not called so.
const char* const kTargetNotExaminedText =
    "복구될 자료 파일을 데이터베이스 서버가 사용하고 있는지 확인할 수 없어 복구하지 않았습니다 (";
const char* const kTargetNotMovedText =
    "기존 자료 파일을 옮겨 둘 수 없어 복구를 시작하지 않았습니다 (";
// The busy panel's figures line: elapsed time and the restored file's size.
const char* const kElapsedText = "경과 ";

QFont WindowFont(bool bold = false) {
    QFont font("굴림");
    font.setPixelSize(12);
    font.setBold(bold);
    return font;
}

// Children of a disabled group box keep the look they have when enabled.
void KeepEnabledLook(QWidget* widget) {
    QPalette palette = widget->palette();
    for (int role = 0; role < QPalette::NColorRoles; ++role) {
        const auto r = static_cast<QPalette::ColorRole>(role);
        palette.setColor(QPalette::Disabled, r, palette.color(QPalette::Active, r));
    }
    widget->setPalette(palette);
}

// Places a label at its stored position. The stored size was measured in the
// original font: the label grows to fit its text in ours, as it would size
// itself to its text there.
void PlaceLabel(QLabel* label, int left, int top, int width, int height) {
    label->setGeometry(left, top, std::max(width, label->sizeHint().width()),
                       std::max(height, label->sizeHint().height()));
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int left, int top,
                  int width, int height) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setAttribute(Qt::WA_TranslucentBackground);
    PlaceLabel(label, left, top, width, height);
    return label;
}

// Adds a line of the server's output to the box as plain text: the box's own
// append would take a line that happens to look like markup for rich text.
void AppendLine(QTextEdit* box, const std::string& line) {
    QTextCursor cursor(box->document());
    cursor.movePosition(QTextCursor::End);
    if (!box->document()->isEmpty())
        cursor.insertBlock();
    cursor.insertText(QString::fromStdString(line));
}

std::string Quoted(const std::string& path) {
    return "\"" + path + "\"";
}

// The operator's wording of a failed restore: the tool's own refusals in the
// window's language, the server's errors as they are, and where the original
// database is whenever it is not back under its own name.
void RewordCurrentError(const restore::RestoreJob& job) {
    try {
        throw;
    } catch (restore::ETargetInUse& error) {
        error.SetMessage(kTargetInUseText + Quoted(error.Path()));
    } catch (restore::ETargetNotExamined& error) {
        error.SetMessage(kTargetNotExaminedText + error.Reason() + "): " + Quoted(error.Path()));
    } catch (restore::ETargetNotMoved& error) {
        error.SetMessage(kTargetNotMovedText + error.Reason() + "): " + Quoted(error.Path()));
    } catch (restore::ERestoreUnfinished& error) {
        switch (job.Fate()) {
            case restore::OriginalFate::PutBack:
                error.SetMessage(std::string(kNotRestoredText) + " " + kOriginalBackText +
                                 Quoted(job.OriginalPath()));
                break;
            case restore::OriginalFate::KeptAside:
                error.SetMessage(std::string(kNotRestoredText) + "\r\n" + kOriginalKeptText +
                                 Quoted(job.OriginalPath()));
                break;
            default:
                error.SetMessage(kUnfinishedText + error.Path() + " (" + error.Attributes() + ")");
        }
    } catch (Exception& error) {
        if (job.Fate() == restore::OriginalFate::KeptAside)
            error.SetMessage(error.Message() + "\r\n" + kOriginalKeptText +
                             Quoted(job.OriginalPath()));
    } catch (...) {
    }
}

// What the window shows of a running restore.
class WindowProgress : public restore::IProgressSink {
  public:
    WindowProgress(QTextEdit* output, QLabel* figures) : output_(output), figures_(figures) {}
    void OutputLine(const std::string& line) override { AppendLine(output_, line); }
    void Finished(restore::OriginalFate, const std::string& leftoverPath) override {
        leftover_ = leftoverPath;
    }
    // The aside copy a successful restore could not delete, or "".
    const std::string& Leftover() const { return leftover_; }
    void Progress(const restore::ProgressFigures& figures) override {
        std::string text = kElapsedText + restore::FormatElapsed(figures.elapsed);
        if (figures.targetBytes >= 0)
            text += " · " + restore::FormatSize(figures.targetBytes);
        figures_->setText(QString::fromStdString(text));
        figures_->adjustSize();
    }

  private:
    QTextEdit* output_;
    QLabel* figures_;
    std::string leftover_;
};

}  // namespace

TMain_Form::TMain_Form(TApplication* application, std::string folder)
    : QWidget(nullptr),
      TComponent(application),
      application_(application),
      folder_(folder.empty() ? platform::ExecutableDir() : std::move(folder)) {
    SetName("Main_Form");
    setObjectName("Main_Form");
    InstallFontSubstitutes();
    CreateControls();
    LoadStoredSettings();
    RunHandler([this] { FormCreate(this); });
}

TMain_Form::~TMain_Form() {
    // The services go while the window still exists: an attached one
    // detaches itself on the way.
    delete pFIBRestoreService1;
    pFIBRestoreService1 = nullptr;
}

namespace {

// One of the two browsing panes: a group box with a directory tree and the
// label over the file list below it (the list itself is the window's child).
struct Pane {
    TFlatGroupBox* box;
    QLabel* label;
    TRzDirectoryTree* tree;
};

struct PaneLook {
    const char* boxName;
    const char* caption;
    QRect geometry;
    const char* labelName;
    const char* labelText;
    const char* treeName;
};

Pane MakePane(TMain_Form* form, const PaneLook& look) {
    Pane pane{};
    pane.box = new TFlatGroupBox(QString::fromUtf8(look.caption), form);
    pane.box->setObjectName(look.boxName);
    pane.box->setGeometry(look.geometry);
    pane.box->SetColor(kFormColor);

    pane.label =
        MakeLabel(pane.box, look.labelName, QString::fromUtf8(look.labelText), 10, 326, 80, 12);
    KeepEnabledLook(pane.label);

    pane.tree = new TRzDirectoryTree(form, pane.box);
    pane.tree->setObjectName(look.treeName);
    pane.tree->setGeometry(8, 14, 347, 303);
    return pane;
}

struct ButtonLook {
    const char* name;
    QRect geometry;
    const char* text;
    TPictureButton::Placement placement;
    QColor color;
    bool bold;
    QColor textColor;
    QColor highlightColor;
    QColor hotTrackColor;
};

TPictureButton* MakeButton(QWidget* parent, const ButtonLook& look) {
    auto* button = new TPictureButton(parent);
    button->setObjectName(look.name);
    button->setGeometry(look.geometry);
    button->setText(QString::fromUtf8(look.text));
    button->SetPlacement(look.placement);
    button->SetColor(look.color);
    button->setFont(WindowFont(look.bold));
    button->SetTextColor(look.textColor);
    button->SetHighlightColor(look.highlightColor);
    button->SetHotTrack(true);
    button->SetHotTrackColor(look.hotTrackColor);
    return button;
}

TFlatPanel* MakePanel(QWidget* parent, const char* name, const QRect& geometry, const QColor& color,
                      bool flatBorder) {
    auto* panel = new TFlatPanel(parent);
    panel->setObjectName(name);
    panel->setGeometry(geometry);
    panel->SetColor(color);
    panel->SetFlatBorder(flatBorder);
    return panel;
}

const PaneLook kBackupPane{"RzGroupBox1", "[백업된 경로]",  QRect(18, 48, 365, 439),
                           "Label3",      "빽업된 파일명:", "RzDirectoryTree1"};
const PaneLook kTargetPane{"RzGroupBox2", "복구될 경로]",   QRect(432, 50, 365, 439),
                           "Label2",      "복구될 파일명:", "RzDirectoryTree2"};

const ButtonLook kRestoreButton{.name = "RzBitBtn1",
                                .geometry = QRect(389, 179, 38, 208),
                                .text = "복구시작",
                                .placement = TPictureButton::Placement::Above,
                                .color = QColor(244, 244, 240),
                                .bold = true,
                                .textColor = QColor(0, 0, 128),
                                .highlightColor = QColor(106, 141, 244),
                                .hotTrackColor = QColor(255, 199, 60)};
const ButtonLook kCloseButton{.name = "RzBitBtn2",
                              .geometry = QRect(705, 4, 95, 35),
                              .text = "닫기[F12]",
                              .placement = TPictureButton::Placement::Left,
                              .color = QColor(128, 128, 128),
                              .bold = false,
                              .textColor = Qt::white,
                              .highlightColor = QColor(255, 199, 60),
                              .hotTrackColor = QColor(106, 141, 244)};

}  // namespace

void TMain_Form::CreateControls() {
    SetUpWindow();

    Bevel7 = new TBevel(this);
    Bevel7->setObjectName("Bevel7");
    Bevel7->setGeometry(20, 494, 779, 2);

    // Siblings are made in this order so that they stack as they always did.
    const Pane backup = MakePane(this, kBackupPane);
    RzGroupBox1 = backup.box;
    Label3 = backup.label;
    RzDirectoryTree1 = backup.tree;

    RzBitBtn1 = MakeButton(this, kRestoreButton);
    RzBitBtn1->SetGlyph(RestoreButtonPicture());
    connect(RzBitBtn1, &QAbstractButton::clicked, this, [this] { RestoreRequested(RzBitBtn1); });

    CreateOutputBox();
    CreateTitleBar();
    RzPanel3 = MakePanel(this, "RzPanel3", QRect(0, height() - 21, width(), 21),
                         QColor(164, 164, 164), true);

    const Pane target = MakePane(this, kTargetPane);
    RzGroupBox2 = target.box;
    Label2 = target.label;
    RzDirectoryTree2 = target.tree;

    CreateBusyPanel();

    RzFileListBox2 = new TRzFileListBox(this, this);
    RzFileListBox2->setObjectName("RzFileListBox2");
    RzFileListBox2->setGeometry(526, 374, 259, 103);
    RzFileListBox2->OnDblClick = [this](TComponent*) { RestoreRequested(RzFileListBox2); };

    RzFileListBox1 = new TRzFileListBox(this, this);
    RzFileListBox1->setObjectName("RzFileListBox1");
    RzFileListBox1->setGeometry(112, 374, 259, 103);
    RzFileListBox1->OnDblClick = [this](TComponent*) { RestoreRequested(RzFileListBox1); };

    CreateHiddenMenu();

    pFIBRestoreService1 = new TpFIBRestoreService(this);

    // Focus moves through the two buttons and the two lists only.
    for (QWidget* w : std::initializer_list<QWidget*>{RzGroupBox1, RzGroupBox2, RzPanel1, RzPanel2,
                                                      RzPanel3, RzDirectoryTree1, RzDirectoryTree2})
        w->setFocusPolicy(Qt::NoFocus);
    setTabOrder(RzBitBtn1, RzBitBtn2);
    setTabOrder(RzBitBtn2, RzFileListBox2);
    setTabOrder(RzFileListBox2, RzFileListBox1);

    // Nothing inside the group boxes takes input: the trees only show the
    // folders chosen at creation.
    RzGroupBox1->setEnabled(false);
    RzGroupBox2->setEnabled(false);

    // Centred on the screen; the stored position is not used.
    if (QScreen* screen = QGuiApplication::primaryScreen())
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(),
                                        screen->availableGeometry()));
}

void TMain_Form::SetUpWindow() {
    setWindowTitle(QString::fromUtf8("백업된 자료 불러오기(Restore) 자료복구"));
    setFont(WindowFont());
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, kFormColor);
    palette.setColor(QPalette::Disabled, QPalette::Window, kFormColor);
    setPalette(palette);
    setAutoFillBackground(true);
    resize(814, 524);
}

void TMain_Form::CreateOutputBox() {
    edOutput = new QTextEdit(this);
    edOutput->setObjectName("edOutput");
    edOutput->setGeometry(-16, 76, 87, 67);
    edOutput->setVisible(false);
    QFont outputFont("MS Sans Serif");
    outputFont.setPixelSize(11);
    edOutput->setFont(outputFont);
    edOutput->setFrameShape(QFrame::StyledPanel);
    // Both scroll bars, each shown when the text needs it.
    edOutput->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    edOutput->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    edOutput->setAcceptRichText(false);
}

void TMain_Form::CreateTitleBar() {
    RzPanel2 = MakePanel(this, "RzPanel2", QRect(0, 0, width(), 43), QColor(128, 128, 128), true);

    Image1 = new QLabel(RzPanel2);
    Image1->setObjectName("Image1");
    Image1->setAttribute(Qt::WA_TranslucentBackground);
    Image1->setPixmap(TitlePicture());
    Image1->setGeometry(6, 4, 32, 32);

    Label10 = MakeLabel(RzPanel2, "Label10",
                        QString::fromUtf8("자료복구 - 빽업된자료를 복원합니다."), 42, 14, 222, 12);
    Label10->setFont(WindowFont(true));
    QPalette white = Label10->palette();
    white.setColor(QPalette::WindowText, Qt::white);
    Label10->setPalette(white);
    PlaceLabel(Label10, 42, 14, 222, 12);  // again, now that the text is bold

    RzBitBtn2 = MakeButton(RzPanel2, kCloseButton);
    RzBitBtn2->SetGlyph(CloseButtonPicture(), CloseButtonDisabledPicture());
    RzBitBtn2->setCursor(Qt::PointingHandCursor);
    connect(RzBitBtn2, &QAbstractButton::clicked, this,
            [this] { RunHandler([this] { RzBitBtn2Click(RzBitBtn2); }); });
}

void TMain_Form::CreateBusyPanel() {
    RzPanel1 = MakePanel(this, "RzPanel1", QRect(482, 162, 789, 443), kFormColor, false);
    RzPanel1->setVisible(false);

    Label1 = MakeLabel(RzPanel1, "Label1", QString::fromUtf8("자료 복원중 입니다.      잠시만...."),
                       322, 252, 184, 12);

    // Under the waiting text: how long the restore has run and how large the
    // restored file has grown, so a long restore visibly moves.
    Label11 = MakeLabel(RzPanel1, "Label11", QString(), 322, 270, 184, 12);

    Animate1 = new TBusyAnimation(RzPanel1);
    Animate1->setObjectName("Animate1");
    Animate1->setGeometry(276, 170, 272, 60);
    Animate1->setVisible(false);
}

void TMain_Form::CreateHiddenMenu() {
    // The hidden menu: its top item is not shown, but the shortcut keys of
    // its items are taken by the window and do nothing.
    MainMenu1 = new QMenuBar(this);
    MainMenu1->setObjectName("MainMenu1");
    MainMenu1->setVisible(false);
    N1 = MainMenu1->addMenu(QString::fromUtf8("단축키"));
    N1->setObjectName("N1");
    N1->menuAction()->setVisible(false);
    struct Item {
        QAction** action;
        const char* name;
        const char* caption;
        QKeySequence key;
    };
    const Item items[] = {
        {&N2, "N2", "닫기", QKeySequence(Qt::Key_F12)},
        {&N4, "N4", "-", QKeySequence(Qt::Key_Minus)},
        {&N3, "N3", "등록", QKeySequence(Qt::Key_F2)},
        {&N5, "N5", "수정", QKeySequence(Qt::Key_F3)},
        {&N6, "N6", "삭제", QKeySequence(Qt::Key_F4)},
        {&N7, "N7", "저장", QKeySequence(Qt::Key_F5)},
    };
    for (const Item& item : items) {
        QAction* action = N1->addAction(QString::fromUtf8(item.caption));
        action->setObjectName(item.name);
        action->setShortcut(item.key);
        action->setShortcutContext(Qt::WindowShortcut);
        // A "-" item is the menu's separator line, and keeps its shortcut.
        action->setSeparator(std::string_view(item.caption) == "-");
        addAction(action);
        *item.action = action;
    }
}

void TMain_Form::LoadStoredSettings() {
    // The settings each component keeps in the window's stored description,
    // written inside its loading bracket as a reader of that description would.
    struct Tree {
        TRzDirectoryTree* tree;
        const char* name;
        TRzFileListBox* list;
        QColor disabledColor;  // invalid: the component's default
    };
    for (const Tree& t : {Tree{RzDirectoryTree1, "RzDirectoryTree1", RzFileListBox1, QColor()},
                          Tree{RzDirectoryTree2, "RzDirectoryTree2", RzFileListBox2, Qt::white}}) {
        t.tree->BeginLoad();
        t.tree->SetName(t.name);
        t.tree->SetFileList(t.list);
        if (t.disabledColor.isValid())
            t.tree->SetDisabledColor(t.disabledColor);
        t.tree->SetFrameVisible(true);
        t.tree->SetHideSelection(false);
        t.tree->SetIndent(19);
        t.tree->SetSelectionPen(QPen(ButtonShadowColor()));
        t.tree->EndLoad();
    }
    struct List {
        TRzFileListBox* list;
        const char* name;
        QColor disabledColor;
    };
    for (const List& l : {List{RzFileListBox1, "RzFileListBox1", QColor()},
                          List{RzFileListBox2, "RzFileListBox2", Qt::white}}) {
        l.list->BeginLoad();
        l.list->SetName(l.name);
        if (l.disabledColor.isValid())
            l.list->SetDisabledColor(l.disabledColor);
        l.list->SetItemHeight(18);
        l.list->EndLoad();
    }

    // The group boxes are disabled only so that nothing inside takes input;
    // the trees keep the look they have when enabled (their colours do so by
    // themselves; the palette's text and highlight are kept here).
    for (TRzDirectoryTree* tree : {RzDirectoryTree1, RzDirectoryTree2}) KeepEnabledLook(tree);

    TpFIBRestoreService* service = pFIBRestoreService1;
    service->BeginLoad();
    service->SetName("pFIBRestoreService1");
    service->SetParams(TStrings{"user_name=SYSDBA", "password=fernstone"});
    service->SetLoginPrompt(false);
    service->SetLibraryName("GDS32.DLL");
    service->SetPageSize(4096);
    service->SetPageBuffers(0);
    service->EndLoad();
}

namespace {

// Folders whose names begin with a dot count as hidden here, and programs
// often live below one (~/.local/...). A tree does not walk through hidden
// folders, so it would stop short of BackUp and Data and list the files of
// some folder far above them.
bool HasHiddenFolder(const std::string& path) {
    for (std::size_t i = 0; i + 1 < path.size(); ++i)
        if (path[i] == '/' && path[i + 1] == '.')
            return true;
    return false;
}

}  // namespace

void TMain_Form::FormCreate(QObject*) {
    RzPanel1->move(12, 46);
    if (HasHiddenFolder(folder_)) {
        RzDirectoryTree1->SetShowHiddenDirs(true);
        RzDirectoryTree2->SetShowHiddenDirs(true);
    }
    RzDirectoryTree1->OpenDir(folder_ + "BackUp");
    RzDirectoryTree2->OpenDir(folder_ + "Data");
}

void TMain_Form::RzBitBtn2Click(QObject*) {
    close();
}

void TMain_Form::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // Only the title bar and the status strip follow the window's edges.
    RzPanel2->setGeometry(0, 0, width(), 43);
    RzPanel3->setGeometry(0, height() - 21, width(), 21);
}

bool TMain_Form::event(QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride) {
        // The menu takes the minus key of the main keyboard only; Qt would
        // also match the one of the number pad, so that one is claimed for
        // the focused control before the shortcuts are looked at.
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Minus && key->modifiers() == Qt::KeypadModifier) {
            event->accept();
            return true;
        }
    }
    return QWidget::event(event);
}

void TMain_Form::closeEvent(QCloseEvent* event) {
    if (restoreRunning_) {
        // The server is not interrupted: the close waits for the command.
        closeRequested_ = true;
        event->ignore();
        return;
    }
    event->accept();
}

void TMain_Form::RunHandler(const std::function<void()>& handler) {
    if (application_) {
        application_->Guard(handler);
    } else {
        handler();  // without an application object the caller sees the error
    }
}

void TMain_Form::RestoreRequested(QObject* sender) {
    if (restoreRunning_)
        return;  // a nested request while the command waits
    RunHandler([this, sender] { RzBitBtn1Click(sender); });
    if (closeRequested_) {
        closeRequested_ = false;
        close();
    }
}

void TMain_Form::EnterBusyState() {
    platform::Window().SetScreenCursor(platform::crHourGlass);
    RzPanel1->setVisible(true);
    Animate1->setVisible(true);
    Animate1->Play();
}

void TMain_Form::LeaveBusyState() {
    platform::Window().SetScreenCursor(platform::crDefault);
    RzPanel1->setVisible(false);
    Animate1->Stop();
    Animate1->setVisible(false);
}

void TMain_Form::RzBitBtn1Click(QObject*) {
    // A double-click on a list while the command waits would otherwise run
    // a second command on the connection the first is still polling.
    if (restoreRunning_)
        return;
    if (RzFileListBox1->SelectedPath().empty()) {
        platform::Window().ShowMessage(kSelectBackupText, kSelectCaption,
                                       platform::MessageIcon::Information);
        return;
    }
    if (RzFileListBox2->SelectedPath().empty()) {
        platform::Window().ShowMessage(kSelectTargetText, kSelectCaption,
                                       platform::MessageIcon::Information);
        return;
    }

    std::string leftover;
    {
        // The command is running for as long as it is on the stack.
        const auto running = core::SetForScope(restoreRunning_, true);
        EnterBusyState();
        const core::ScopeExit idle([this] { LeaveBusyState(); });
        Label11->clear();
        WindowWait wait;
        WindowProgress progress(edOutput, Label11);
        restore::RestoreJob job(*pFIBRestoreService1, wait, progress);
        try {
            // The engine puts the original back before it gives up, so the
            // window stays busy, and alive, while the server lets go of files.
            job.Run({.backup = restore::ServerFile{RzFileListBox1->SelectedPath()},
                     .targetPath = RzFileListBox2->SelectedPath(),
                     .replaceExisting = true});
            leftover = progress.Leftover();
        } catch (...) {
            RewordCurrentError(job);
            throw;
        }
    }

    if (!leftover.empty())
        platform::Window().ShowMessage(kLeftoverText + Quoted(leftover), kLeftoverCaption,
                                       platform::MessageIcon::Information);
    platform::Window().ShowMessage(kDoneText, kDoneCaption, platform::MessageIcon::Information);
    close();
}
