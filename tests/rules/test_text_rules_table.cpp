// "Apply selection" over a whole text table, on real page files.
#include "rules/text_rules.h"
#include "tables/collection_tables.h"

#include "common/file_ops.h"

#include <QDir>
#include <QTemporaryDir>

#include "tests/rules/print_qt.h"

#include <gtest/gtest.h>

using namespace skarvel;

namespace {

QByteArray FileBytes(const QString& path) {
    QByteArray bytes;
    EXPECT_TRUE(ReadWholeFile(path, bytes)) << path.toStdString();
    return bytes;
}

TEST(TextRulesTable, EveryRowIsCutWrittenBackAndGetsItsHeader) {
    QTemporaryDir dir;
    const QString page1 = dir.filePath("1.htm");
    const QString page3 = dir.filePath("3.htm");
    ASSERT_TRUE(WriteWholeFile(page1, "<h1>One</h1><p>first</p>"));
    ASSERT_TRUE(WriteWholeFile(page3, "<h1>Three</h1><p>third</p>"));
    CollectionTable table(TableKind::Texts);
    table.setGridRowCount(4);
    table.setCell(col::LocalPath, 1, page1);
    table.setCell(col::LocalPath, 2, ""); // its download failed: no file
    table.setCell(col::LocalPath, 3, page3);

    TextRules rules;
    rules.blockBegin = "<p>";
    rules.blockEnd = "</p>";
    rules.headerBegin = "<h1>";
    rules.headerEnd = "</h1>";
    QList<int> shownRows;
    QStringList shownTexts;
    QString error;
    ASSERT_TRUE(ApplyTextRulesToTable(
        table, rules,
        [&](int row, const TextResult& result) {
            shownRows << row;
            shownTexts << result.text;
        },
        &error))
        << error.toStdString();

    EXPECT_EQ(shownRows, (QList<int>{1, 2, 3}));
    EXPECT_EQ(shownTexts, (QStringList{"first", "", "third"}));
    EXPECT_EQ(FileBytes(page1), QByteArray("\xEF\xBB\xBF"
                                           "first\r\n"));
    EXPECT_EQ(FileBytes(page3), QByteArray("\xEF\xBB\xBF"
                                           "third\r\n"));
    EXPECT_EQ(table.cell(col::Header, 1), "One");
    EXPECT_EQ(table.cell(col::Header, 2), "");
    EXPECT_EQ(table.cell(col::Header, 3), "Three");
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("2.htm")));
}

TEST(TextRulesTable, StopsAtAFileItCannotWriteAndLeavesLaterRowsAlone) {
    QTemporaryDir dir;
    const QString page1 = dir.filePath("1.htm");
    const QString folderAsPage = dir.filePath("2.htm"); // a folder where a page file should be
    const QString page3 = dir.filePath("3.htm");
    ASSERT_TRUE(WriteWholeFile(page1, "<h1>One</h1>"));
    ASSERT_TRUE(QDir().mkdir(folderAsPage));
    ASSERT_TRUE(WriteWholeFile(page3, "<h1>Three</h1>"));
    CollectionTable table(TableKind::Texts);
    table.setGridRowCount(4);
    table.setCell(col::LocalPath, 1, page1);
    table.setCell(col::LocalPath, 2, folderAsPage);
    table.setCell(col::LocalPath, 3, page3);

    TextRules rules;
    rules.headerBegin = "<h1>";
    rules.headerEnd = "</h1>";
    QString error;
    EXPECT_FALSE(ApplyTextRulesToTable(table, rules, {}, &error));
    EXPECT_TRUE(error.startsWith("Cannot write " + folderAsPage + ": ")) << error.toStdString();
    EXPECT_EQ(table.cell(col::Header, 1), "One");
    EXPECT_EQ(table.cell(col::Header, 2), "");
    EXPECT_EQ(table.cell(col::Header, 3), "");
    EXPECT_EQ(FileBytes(page3), QByteArray("<h1>Three</h1>"));
}

} // namespace
