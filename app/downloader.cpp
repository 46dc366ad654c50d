#include <QApplication>

#include "app/MainForm.h"
#include "app/WindowTexts.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(tarnwick::WindowTexts::ApplicationTitle));
    tarnwick::TMainForm mainForm;
    mainForm.show();
    return QApplication::exec();
}
