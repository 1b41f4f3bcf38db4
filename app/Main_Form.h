#pragma once
// The tool's one window: the backup folder's files on the left, the data
// folder's files on the right, and the restore command between them.

#include <QWidget>
#include <functional>
#include <string>

#include "core/Component.h"

class QAction;
class QCloseEvent;
class QLabel;
class QMenu;
class QMenuBar;
class QTextEdit;
class TApplication;
class TBevel;
class TBusyAnimation;
class TFlatGroupBox;
class TFlatPanel;
class TPictureButton;
class TRzDirectoryTree;
class TRzFileListBox;
class TpFIBRestoreService;

class TMain_Form : public QWidget, public TComponent {
    Q_OBJECT
  public:
    // `folder` is where "BackUp" and "Data" are looked for: the running
    // executable's folder, with its trailing separator, unless a test says.
    explicit TMain_Form(TApplication* application, std::string folder = {});
    ~TMain_Form() override;

    // The components of the window, in declaration order.
    TFlatGroupBox* RzGroupBox1;
    QLabel* Label3;
    TRzDirectoryTree* RzDirectoryTree1;
    TBevel* Bevel7;
    TPictureButton* RzBitBtn1;
    QTextEdit* edOutput;
    TFlatPanel* RzPanel2;
    QLabel* Image1;
    QLabel* Label10;
    TPictureButton* RzBitBtn2;
    TFlatPanel* RzPanel3;
    QMenuBar* MainMenu1;
    QMenu* N1;
    QAction* N2;
    QAction* N4;
    QAction* N3;
    QAction* N5;
    QAction* N6;
    QAction* N7;
    TpFIBRestoreService* pFIBRestoreService1;
    TFlatGroupBox* RzGroupBox2;
    TRzDirectoryTree* RzDirectoryTree2;
    QLabel* Label2;
    TFlatPanel* RzPanel1;
    QLabel* Label1;
    QLabel* Label11;
    TBusyAnimation* Animate1;
    TRzFileListBox* RzFileListBox2;
    TRzFileListBox* RzFileListBox1;

    // Event handlers.
    void FormCreate(QObject* sender);
    // The restore command: restores the selected backup into the selected
    // database file. Errors leave it after its cleanup.
    void RzBitBtn1Click(QObject* sender);
    void RzBitBtn2Click(QObject* sender);

    // How the three controls raise the restore command: errors go to the
    // application's error display, and a close asked for while the command
    // ran is carried out once it has returned.
    void RestoreRequested(QObject* sender);

    bool RestoreRunning() const { return restoreRunning_; }
    bool CloseRequested() const { return closeRequested_; }
    const std::string& Folder() const { return folder_; }

  protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    // Runs an event handler; what it raises goes to the application's error
    // display.
    void RunHandler(const std::function<void()>& handler);
    void CreateControls();
    void SetUpWindow();
    void CreateOutputBox();
    void CreateTitleBar();
    void CreateBusyPanel();
    void CreateHiddenMenu();
    void LoadStoredSettings();
    // Hourglass, busy panel, animation; and back. Leaving does not detach:
    // the command detaches first, as its cleanup does.
    void EnterBusyState();
    void LeaveBusyState();

    TApplication* application_;
    std::string folder_;
    bool restoreRunning_ = false;
    bool closeRequested_ = false;
};
