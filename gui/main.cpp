// worva: the windowed front end of Orvanta.
#include <QApplication>

#include <clocale>

#include "worva.h"

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvanta"));
    worva::RegisterResources();
    QApplication::setWindowIcon(worva::AppIcon());
    worva::CMainFrame frame;
    frame.show();
    return app.exec();
}
