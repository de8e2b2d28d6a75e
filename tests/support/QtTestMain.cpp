#include <QApplication>
#include <gtest/gtest.h>

// Widget tests need a QApplication alive for the whole run, created before any test touches Qt.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
