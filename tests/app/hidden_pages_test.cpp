// The pages start-up hides stay shut against every input that moves a tab widget's page, and
// entering none of them talks to the device; with --all-pages the same inputs reach them.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QWheelEvent>
#include <functional>

#include "form_fixture.h"

namespace velmora::test {
namespace {

void Wheel(QTabBar* bar, int delta) {
  const QPointF at(bar->rect().center());
  QWheelEvent wheel(at, bar->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(bar, &wheel);
}

void PressEveryTab(QTabBar* bar) {
  QAccessibleInterface* strip = QAccessible::queryAccessibleInterface(bar);
  ASSERT_NE(strip, nullptr);
  for (int i = 0; i < strip->childCount(); ++i) {
    QAccessibleActionInterface* tab = strip->child(i)->actionInterface();
    if (tab != nullptr) tab->doAction(QAccessibleActionInterface::pressAction());
  }
}

TEST(HiddenPagesTest, NoInputBringsUpAHiddenPageUnlessAllPagesShow) {
  const struct {
    const char* input;
    std::function<void(QTabWidget*)> send;  // sent six times
    bool moves = true;                      // Qt 6.4 binds no page change to Ctrl+PgUp/PgDn
  } inputs[] = {
      {"wheel down", [](QTabWidget* p) { Wheel(p->tabBar(), -120); }},
      {"wheel up", [](QTabWidget* p) { Wheel(p->tabBar(), 120); }},
      {"Ctrl+Tab", [](QTabWidget* p) { QTest::keyClick(p, Qt::Key_Tab, Qt::ControlModifier); }},
      {"Ctrl+Shift+Tab",
       [](QTabWidget* p) {
         QTest::keyClick(p, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
       }},
      {"Ctrl+PgDn on a page",
       [](QTabWidget* p) {
         QTest::keyClick(p->currentWidget(), Qt::Key_PageDown, Qt::ControlModifier);
       },
       false},
      {"Ctrl+PgUp on the strip",
       [](QTabWidget* p) { QTest::keyClick(p->tabBar(), Qt::Key_PageUp, Qt::ControlModifier); },
       false},
      {"Right on the strip", [](QTabWidget* p) { QTest::keyClick(p->tabBar(), Qt::Key_Right); }},
      {"Left on the strip", [](QTabWidget* p) { QTest::keyClick(p->tabBar(), Qt::Key_Left); }},
      {"accessible press", [](QTabWidget* p) { PressEveryTab(p->tabBar()); }},
      {"index set", [](QTabWidget* p) { p->setCurrentIndex((p->currentIndex() + 1) % 6); }},
  };
  for (const bool all_pages : {false, true}) {
    for (const auto& row : inputs) {
      FormStartup startup;
      startup.all_pages = all_pages;
      startup.screen_dpi = 96;
      FormRig rig{startup};
      TForm1& form = rig.form;
      form.Timer1->stop();
      form.show();
      QTabWidget* pages = form.ui->MainPageControl;
      pages->setCurrentWidget(form.ui->PageISPCtrl);
      pages->tabBar()->setFocus();
      ASSERT_TRUE(rig.PlugAndFind());

      bool left_isp = false;
      for (int i = 0; i < 6; ++i) {
        row.send(pages);
        left_isp = left_isp || pages->currentWidget() != form.ui->PageISPCtrl;
        if (!all_pages) {
          EXPECT_EQ(pages->currentWidget(), form.ui->PageISPCtrl) << row.input << " " << i;
          EXPECT_EQ(pages->tabBar()->currentIndex(), pages->indexOf(form.ui->PageISPCtrl))
              << row.input << " " << i;
        }
      }
      EXPECT_EQ(left_isp, all_pages && row.moves) << row.input << ", all pages " << all_pages;
      if (!all_pages) {
        EXPECT_TRUE(rig.transcript.Events().empty()) << row.input;
      }
    }
  }
}

}  // namespace
}  // namespace velmora::test
