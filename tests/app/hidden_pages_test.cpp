// The pages start-up hides stay shut against every input that moves a tab widget's page, and
// entering none of them talks to the device; with every page shown the same inputs reach them.
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QTabBar>
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
  for (int i = 0; strip != nullptr && i < strip->childCount(); ++i) {
    if (auto* tab = strip->child(i)->actionInterface())
      tab->doAction(QAccessibleActionInterface::pressAction());
  }
}

TEST(HiddenPagesTest, NoInputBringsUpAHiddenPageUnlessAllPagesShow) {
  const struct {
    const char* input;
    std::function<void(QTabWidget*)> send;  // sent six times
  } inputs[] = {
      {"wheel", [](QTabWidget* p) { Wheel(p->tabBar(), -120); }},
      {"Ctrl+Tab", [](QTabWidget* p) { QTest::keyClick(p, Qt::Key_Tab, Qt::ControlModifier); }},
      {"Right on the strip", [](QTabWidget* p) { QTest::keyClick(p->tabBar(), Qt::Key_Right); }},
      {"accessible press", [](QTabWidget* p) { PressEveryTab(p->tabBar()); }},
      {"index set", [](QTabWidget* p) { p->setCurrentIndex((p->currentIndex() + 1) % 6); }},
  };
  for (const bool all_pages : {false, true}) {
    for (const auto& row : inputs) {
      FormStartup startup = AllPagesStartup();
      startup.all_pages = all_pages;
      FormRig rig{startup};
      rig.form.Timer1->stop();
      rig.form.show();
      QTabWidget* pages = rig.form.ui->MainPageControl;
      QWidget* isp = rig.form.ui->PageISPCtrl;
      pages->setCurrentWidget(isp);  // the third tab
      pages->tabBar()->setFocus();
      ASSERT_TRUE(rig.PlugAndFind());
      bool left_isp = false;  // the page or the strip's current tab, at any of the six
      for (int i = 0; i < 6; ++i) {
        row.send(pages);
        left_isp |= pages->currentWidget() != isp || pages->tabBar()->currentIndex() != 2;
      }
      EXPECT_EQ(left_isp, all_pages) << row.input << ", all pages " << all_pages;
      EXPECT_TRUE(all_pages || rig.transcript.Events().empty()) << row.input;
    }
  }
}

}  // namespace
}  // namespace velmora::test
