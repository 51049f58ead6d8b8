// GoogleTest with one QApplication for the whole run, on the offscreen platform unless told otherwise.

#include <gtest/gtest.h>

#include <QApplication>

#include "platform/qt/qt_services.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    selvatro::platform::qt::SetUpApplication();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
