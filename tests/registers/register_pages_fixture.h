// The window over the virtual chip for tests of the register and I2C Access pages. The form is
// built here only: a test selects its page with ShowPage.
#pragma once

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "form_fixture.h"
#include "string_grid.h"

namespace velmora::test {

using Kind = sim::TranscriptEvent::Kind;

class RegisterPagesTest : public PageTest {
 protected:
  // Moves the grid's current cell, as a click on it does.
  static void Select(StringGrid* grid, int col, int row) { grid->setCurrentCell(row, col); }
  // Types `text` into the current cell's editor and ends the edit with `key`.
  static void TypeIntoCell(StringGrid* grid, const QString& text, Qt::Key key = Qt::Key_Return) {
    grid->edit(grid->currentIndex());
    auto* editor = qobject_cast<QLineEdit*>(grid->indexWidget(grid->currentIndex()));
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    if (text.isEmpty()) QTest::keyClick(editor, Qt::Key_Backspace);
    QTest::keyClicks(editor, text);
    QTest::keyClick(editor, key);
  }
  QCheckBox* BitBox(const char* prefix, int bit) const {
    return form.FindFamilyMember<QCheckBox>(prefix, bit);
  }
  int BoxesValue(const char* prefix) const {
    int value = 0;
    for (int bit = 0; bit < 8; ++bit) value |= BitBox(prefix, bit)->isChecked() ? 1 << bit : 0;
    return value;
  }

  // The transcript in short words: "open", "close", "p3" (a pause), "pump", "W12=34" (register
  // write), "R12" (register read).
  std::vector<std::string> Trace() const {
    std::vector<std::string> out;
    char word[16];
    for (const auto& e : transcript.Events()) {
      if (e.kind == Kind::Open) out.push_back("open");
      if (e.kind == Kind::Close) out.push_back("close");
      if (e.kind == Kind::Pause) out.push_back("p" + std::to_string(e.ms));
      if (e.kind != Kind::Transfer) continue;
      if (e.setup.request == 0x90) {
        std::snprintf(word, sizeof word, "W%02X=%02X", e.setup.index, e.data.at(0));
      } else {
        std::snprintf(word, sizeof word, "R%02X", e.setup.index);
      }
      out.push_back(word);
    }
    return out;
  }
  // Register indexes of the register reads sent, in order.
  std::vector<int> RegisterReads() const {
    std::vector<int> out;
    for (const auto& e : transcript.Transfers()) {
      if (e.setup.request == 0x91) out.push_back(e.setup.index);
    }
    return out;
  }
  bool NothingSent() const { return transcript.Count(Kind::Transfer) == 0; }
};

}  // namespace velmora::test
