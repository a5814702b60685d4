// The widget tests run inside one QApplication (offscreen, Fusion, DejaVu Sans, scale 1) that
// lives on main's stack, so it goes before Qt's own globals do.
#include "ui/Style.h"

#include <QApplication>
#include <QFont>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_SCALE_FACTOR", "1");
    QApplication::setOrganizationName(QStringLiteral("Reelbox"));
    QApplication::setApplicationName(QStringLiteral("Reelbox"));
    QApplication app(argc, argv);
    reelbox::ui::applyStyle(app);
    app.setFont(QFont(QStringLiteral("DejaVu Sans"), 10));
    return RUN_ALL_TESTS();
}
