// The Designer form as built on a bare QMainWindow: tree, names, texts, layouts and constraints.

#include "ui_mainwindow.h"

#include <QtTest>
#include <QtWidgets>

Q_DECLARE_METATYPE(QMargins)

namespace {
QString notice()
{
    return QStringLiteral("【支持微软Office、WPS专业版】");
}
} // namespace

class AppFormTest : public QObject
{
    Q_OBJECT
private:
    QMainWindow *window = nullptr;
    Ui::MainWindow *ui = nullptr;

    template <typename T> T *find(const QString &name) { return window->findChild<T *>(name); }

private slots:
    void init()
    {
        window = new QMainWindow;
        ui = new Ui::MainWindow;
        ui->setupUi(window);
    }
    void cleanup()
    {
        delete ui;
        delete window;
    }

    void builtWindow()
    {
        QCOMPARE(window->objectName(), QStringLiteral("MainWindow"));
        QCOMPARE(window->size(), QSize(940, 500));
        QCOMPARE(window->windowTitle(), QStringLiteral("MainWindow"));
        QCOMPARE(window->centralWidget(), ui->centralWidget);
        QCOMPARE(ui->tabWidget->count(), 1);
        QCOMPARE(ui->tabWidget->currentIndex(), 0);
        QCOMPARE(ui->tabWidget->widget(0), ui->wgt_AddToTab1);
        QCOMPARE(ui->tabWidget->tabText(0), QStringLiteral("软件设置"));
        QVERIFY(!window->menuWidget());
        QCOMPARE(window->findChildren<QStatusBar *>().size(), 0);
    }

    void widgetTree_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("className");
        QTest::addColumn<QString>("parentName");
        QTest::newRow("centralWidget") << "centralWidget"
                                       << "QWidget"
                                       << "MainWindow";
        QTest::newRow("tabWidget") << "tabWidget"
                                   << "QTabWidget"
                                   << "centralWidget";
        QTest::newRow("gBox_Setting") << "gBox_Setting"
                                      << "QGroupBox"
                                      << "wgt_AddToTab1";
        QTest::newRow("pBtn_SourcePath") << "pBtn_SourcePath"
                                         << "QPushButton"
                                         << "gBox_Setting";
        QTest::newRow("lEdt_SourcePath") << "lEdt_SourcePath"
                                         << "QLineEdit"
                                         << "gBox_Setting";
        QTest::newRow("pBtn_ReplaceExcelText") << "pBtn_ReplaceExcelText"
                                               << "QPushButton"
                                               << "gBox_Setting";
        QTest::newRow("widget_4") << "widget_4"
                                  << "QWidget"
                                  << "gBox_Setting";
        QTest::newRow("label") << "label"
                               << "QLabel"
                               << "widget_4";
        QTest::newRow("sBox_PrintDelay") << "sBox_PrintDelay"
                                         << "QSpinBox"
                                         << "widget_4";
        QTest::newRow("lb_FindTextExplain") << "lb_FindTextExplain"
                                            << "QLabel"
                                            << "widget_4";
        QTest::newRow("lEdt_FindText") << "lEdt_FindText"
                                       << "QLineEdit"
                                       << "widget_4";
        QTest::newRow("lb_ShowDisposingFile") << "lb_ShowDisposingFile"
                                              << "QLabel"
                                              << "wgt_AddToTab1";
    }
    void widgetTree()
    {
        QFETCH(QString, name);
        QFETCH(QString, className);
        QFETCH(QString, parentName);
        QWidget *widget = find<QWidget>(name);
        QVERIFY2(widget, qPrintable(name));
        QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
        QVERIFY(widget->parentWidget());
        QCOMPARE(widget->parentWidget()->objectName(), parentName);
    }

    void texts_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::newRow("group title") << "gBox_Setting"
                                     << QStringLiteral(
                                            "打印指定文件夹中多个Word文件。支持微软Office、WPS专业版。");
        QTest::newRow("folder button") << "pBtn_SourcePath" << QStringLiteral("选择文件夹");
        QTest::newRow("print button") << "pBtn_ReplaceExcelText" << QStringLiteral("全部打印");
        QTest::newRow("delay label") << "label"
                                     << QStringLiteral(
                                            "打印一个表后,延时多少毫秒再打印下一个表(1000毫秒等于1秒)：");
        QTest::newRow("password label")
            << "lb_FindTextExplain" << QStringLiteral("如Word文档有密码,请填写：");
        QTest::newRow("folder field") << "lEdt_SourcePath" << QString();
        QTest::newRow("password field") << "lEdt_FindText" << QString();
    }
    void texts()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QObject *object = find<QObject>(name);
        QVERIFY(object);
        const char *property = qobject_cast<QGroupBox *>(object) ? "title" : "text";
        QCOMPARE(object->property(property).toString(), text);
    }

    void distributionNotice()
    {
        const QString text = ui->lb_ShowDisposingFile->text();
        QVERIFY(text.startsWith(QStringLiteral("  ")));
        QVERIFY(!text.startsWith(QStringLiteral("   ")));
        QVERIFY(text.endsWith(notice()));
        QVERIFY(!text.contains(QLatin1Char('\n')));
        QVERIFY(text.size() > 2 + notice().size());
    }

    void delaySpinBox_data()
    {
        QTest::addColumn<int>("input");
        QTest::addColumn<int>("shown");
        QTest::newRow("lowest") << 0 << 0;
        QTest::newRow("below range") << -1 << 0;
        QTest::newRow("typical") << 2500 << 2500;
        QTest::newRow("highest") << 120000 << 120000;
        QTest::newRow("above range") << 120001 << 120000;
    }
    void delaySpinBox()
    {
        QFETCH(int, input);
        QFETCH(int, shown);
        QSpinBox *box = ui->sBox_PrintDelay;
        QCOMPARE(box->value(), 0);
        QCOMPARE(box->minimum(), 0);
        QCOMPARE(box->maximum(), 120000);
        QCOMPARE(box->singleStep(), 1);
        QVERIFY(box->prefix().isEmpty());
        QVERIFY(box->suffix().isEmpty());
        box->setValue(input);
        QCOMPARE(box->value(), shown);
        QCOMPARE(box->text().toInt(nullptr, 10), shown);
    }

    void typingIntoDelayIsBounded()
    {
        QSpinBox *box = ui->sBox_PrintDelay;
        box->selectAll();
        QTest::keyClicks(box, QStringLiteral("999999"));
        QVERIFY(box->value() <= 120000);
        QVERIFY(box->text().toInt() <= 120000);
    }

    void passwordShowsAsTyped()
    {
        QCOMPARE(ui->lEdt_FindText->echoMode(), QLineEdit::Normal);
        QVERIFY(!ui->lEdt_SourcePath->isReadOnly());
    }

    void folderButtonFontIsBold()
    {
        const QFont font = ui->pBtn_SourcePath->font();
        QCOMPARE(font.family(), QStringLiteral("Agency FB"));
        QVERIFY(font.bold());
        QCOMPARE(font.weight(), 75);
        QCOMPARE(font.pointSizeF(), QApplication::font().pointSizeF());
        // Whatever family the system substitutes, it stays bold.
        QVERIFY(QFontInfo(font).bold());
    }

    void styleSheets_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("styleSheet");
        QTest::newRow("grey panel") << "widget_4"
                                    << "background:rgb(240, 240, 240)";
        QTest::newRow("red label") << "lb_ShowDisposingFile"
                                   << "color: rgb(255, 0, 0);";
        QTest::newRow("group") << "gBox_Setting"
                               << "";
        QTest::newRow("window") << "MainWindow"
                                << "";
    }
    void styleSheets()
    {
        QFETCH(QString, name);
        QFETCH(QString, styleSheet);
        QWidget *widget = name == QLatin1String("MainWindow") ? window : find<QWidget>(name);
        QVERIFY(widget);
        QCOMPARE(widget->styleSheet(), styleSheet);
    }

    void layouts_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("className");
        QTest::addColumn<int>("spacing");
        QTest::addColumn<QMargins>("margins");
        QTest::newRow("verticalLayout_4") << "verticalLayout_4"
                                          << "QVBoxLayout" << 6 << QMargins(0, 0, 0, 0);
        QTest::newRow("verticalLayout_3") << "verticalLayout_3"
                                          << "QVBoxLayout" << 6 << QMargins(0, 5, 0, 0);
        QTest::newRow("verticalLayout") << "verticalLayout"
                                        << "QVBoxLayout" << 6 << QMargins(11, 11, 11, 11);
        QTest::newRow("verticalLayout_2") << "verticalLayout_2"
                                          << "QVBoxLayout" << 6 << QMargins(0, 0, 0, 0);
        QTest::newRow("horizontalLayout_3") << "horizontalLayout_3"
                                            << "QHBoxLayout" << 6 << QMargins(0, 5, 0, 5);
        QTest::newRow("horizontalLayout_2") << "horizontalLayout_2"
                                            << "QHBoxLayout" << 6 << QMargins(11, 11, 11, 11);
    }
    void layouts()
    {
        QFETCH(QString, name);
        QFETCH(QString, className);
        QFETCH(int, spacing);
        QFETCH(QMargins, margins);
        QLayout *layout = find<QLayout>(name);
        QVERIFY2(layout, qPrintable(name));
        QCOMPARE(QString::fromLatin1(layout->metaObject()->className()), className);
        QCOMPARE(layout->spacing(), spacing);
        QCOMPARE(layout->contentsMargins(), margins);
    }

    void layoutItems_data()
    {
        QTest::addColumn<QString>("layoutName");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("central") << "verticalLayout_4" << QStringList{"tabWidget"};
        QTest::newRow("tab page") << "verticalLayout_3"
                                  << QStringList{"gBox_Setting", "<spacer>", "lb_ShowDisposingFile"};
        QTest::newRow("group") << "verticalLayout" << QStringList{"verticalLayout_2"};
        QTest::newRow("group inner") << "verticalLayout_2" << QStringList{"horizontalLayout_3", "widget_4"};
        QTest::newRow("folder row") << "horizontalLayout_3"
                                    << QStringList{"pBtn_SourcePath", "lEdt_SourcePath",
                                                   "pBtn_ReplaceExcelText"};
        QTest::newRow("options row") << "horizontalLayout_2"
                                     << QStringList{"label", "sBox_PrintDelay", "lb_FindTextExplain",
                                                    "lEdt_FindText"};
    }
    void layoutItems()
    {
        QFETCH(QString, layoutName);
        QFETCH(QStringList, items);
        QBoxLayout *layout = find<QBoxLayout>(layoutName);
        QVERIFY(layout);
        QStringList actual;
        for (int i = 0; i < layout->count(); ++i) {
            QLayoutItem *item = layout->itemAt(i);
            if (item->widget())
                actual << item->widget()->objectName();
            else if (item->layout())
                actual << item->layout()->objectName();
            else
                actual << QStringLiteral("<spacer>");
            QCOMPARE(layout->stretch(i), 0);
        }
        QCOMPARE(actual, items);
    }

    void spacer()
    {
        QSpacerItem *spacer = ui->verticalSpacer;
        QVERIFY(spacer);
        QCOMPARE(ui->verticalLayout_3->itemAt(1)->spacerItem(), spacer);
        QCOMPARE(spacer->sizeHint(), QSize(20, 40));
        QCOMPARE(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Minimum);
        QCOMPARE(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Expanding);
    }

    void sizeConstraints_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("horizontal");
        QTest::addColumn<int>("vertical");
        QTest::addColumn<QSize>("minimum");
        QTest::addColumn<QSize>("maximum");
        const QSize unlimited(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        QTest::newRow("gBox_Setting") << "gBox_Setting" << int(QSizePolicy::Expanding)
                                      << int(QSizePolicy::Expanding) << QSize(0, 0) << unlimited;
        QTest::newRow("pBtn_SourcePath") << "pBtn_SourcePath" << int(QSizePolicy::Minimum)
                                         << int(QSizePolicy::Fixed) << QSize(0, 0) << unlimited;
        QTest::newRow("widget_4") << "widget_4" << int(QSizePolicy::Preferred) << int(QSizePolicy::Preferred)
                                  << QSize(0, 0) << QSize(QWIDGETSIZE_MAX, 50);
        QTest::newRow("lb_ShowDisposingFile") << "lb_ShowDisposingFile" << int(QSizePolicy::Expanding)
                                              << int(QSizePolicy::Expanding) << QSize(0, 30) << unlimited;
    }
    void sizeConstraints()
    {
        QFETCH(QString, name);
        QFETCH(int, horizontal);
        QFETCH(int, vertical);
        QFETCH(QSize, minimum);
        QFETCH(QSize, maximum);
        QWidget *widget = find<QWidget>(name);
        QVERIFY(widget);
        const QSizePolicy policy = widget->sizePolicy();
        QCOMPARE(int(policy.horizontalPolicy()), horizontal);
        QCOMPARE(int(policy.verticalPolicy()), vertical);
        QCOMPARE(policy.horizontalStretch(), 0);
        QCOMPARE(policy.verticalStretch(), 0);
        QCOMPARE(widget->minimumSize(), minimum);
        QCOMPARE(widget->maximumSize(), maximum);
    }

    void tabOrderFollowsCreation()
    {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QStringList order;
        QWidget *widget = window;
        do {
            widget = widget->nextInFocusChain();
            if (widget->isVisible() && widget->isEnabled() && (widget->focusPolicy() & Qt::TabFocus) &&
                !widget->focusProxy())
                order << (widget->objectName().isEmpty()
                              ? QString::fromLatin1(widget->metaObject()->className())
                              : widget->objectName());
        } while (widget != window);
        const QStringList expected{"qt_tabwidget_tabbar",   "pBtn_SourcePath", "lEdt_SourcePath",
                                   "pBtn_ReplaceExcelText", "sBox_PrintDelay", "lEdt_FindText"};
        QCOMPARE(order, expected);
    }
};

QTEST_MAIN(AppFormTest)
#include "app_form_test.moc"
