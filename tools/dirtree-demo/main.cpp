// Shows a directory tree opened on a folder and the file list it drives,
// laid out as one pane of the restore window.
//
//   dirtree-demo [FOLDER] [--grab FILE.png]
//
// FOLDER defaults to the current directory. With --grab the window is
// saved as a picture once shown, and the program ends.

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QTimer>
#include <QWidget>
#include <string>

#include "controls/RzFilSys.h"
#include "platform/fs/FileSystem.h"
#include "platform/qt/QtWindowLayer.h"

namespace {

class TDemoForm : public QWidget, public TComponent {
  public:
    explicit TDemoForm(const std::string& folder) {
        setWindowTitle("Directory tree");
        resize(400, 500);
        auto* box = new QGroupBox("[BackUp]", this);
        box->setGeometry(18, 10, 365, 439);
        tree = new TRzDirectoryTree(this, box);
        tree->setGeometry(8, 18, 347, 303);
        tree->SetFrameVisible(true);
        tree->SetHideSelection(false);
        tree->SetIndent(19);
        auto* label = new QLabel("File name:", box);
        label->setGeometry(10, 330, 80, 14);
        list = new TRzFileListBox(this, this);
        list->setGeometry(112, 340, 259, 103);
        list->SetItemHeight(18);
        path = new QLabel(this);
        path->setGeometry(18, 460, 365, 20);
        tree->SetFileList(list);
        tree->SetDirLabel(path);
        tree->OpenDir(folder);
    }

    TRzDirectoryTree* tree;
    TRzFileListBox* list;
    QLabel* path;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    platform::QtWindowLayer layer;
    platform::ScopedWindowLayer useLayer(layer);
    std::string folder = platform::fs::Files().CurrentDirectory();
    QString grab;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--grab" && i + 1 < argc)
            grab = argv[++i];
        else
            folder = arg;
    }
    TDemoForm form(folder);
    form.show();
    if (!grab.isEmpty()) {
        QTimer::singleShot(300, &form, [&] {
            form.grab().save(grab);
            QApplication::quit();
        });
    }
    return app.exec();
}
