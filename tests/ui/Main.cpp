// The window's tests need an application object; they run on the offscreen
// platform unless another is chosen, in Chinese (the described texts)
// whatever the environment's language; tests of English switch to it.
#include "l10n/Translation.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    quelvox::UseLanguage(app, quelvox::Language::Chinese);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
