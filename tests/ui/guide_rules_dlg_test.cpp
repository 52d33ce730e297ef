// The desktop's guide and rules: a programme on now becomes a series rule
// with its recordings listed, a rule made later wins a conflict once
// preferred, a rule is removed, and a malformed guide changes nothing and
// says why.

#include "config/settings.h"
#include "guide/guide_import.h"
#include "platform/recording_sink.h"
#include "record/guide_rules_dlg.h"
#include "support/temp_config.h"
#include "ui_support.h"

#include <QLabel>
#include <QListWidget>

#include <gtest/gtest.h>

#include <ctime>

namespace {

QStringList Texts(const QListWidget* list)
{
    QStringList texts;
    for (int row = 0; row < list->count(); ++row)
        texts << list->item(row)->text();
    return texts;
}

TEST(GuideRulesDlgTest, RecordPreferRemoveAndAMalformedImport)
{
    Application();
    TempConfig config;
    SetDefaultSettings();
    RecordingMessageSink sink;
    SetMessageSink(&sink);
    const int64_t now = static_cast<int64_t>(std::time(nullptr)) / 60 * 60;
    auto programme = [](const char* channel, int64_t start, int64_t stop, const char* title) {
        return std::string("<programme channel=\"") + channel + "\" start=\"" + FormatXmltvTime(start) + "\" stop=\"" +
               FormatXmltvTime(stop) + "\"><title>" + title + "</title></programme>";
    };
    const std::string guide = config.Root() + "/guide.xml";
    WriteFileBytes(guide, "<tv><channel id=\"n\"><display-name>3</display-name></channel><channel id=\"f\">"
                          "<display-name>5</display-name></channel>" +
                              programme("n", now - 600, now + 1800, "The News") +
                              programme("f", now - 600, now + 600, "Cartoons") +
                              programme("f", now + 600, now + 7200, "The Film") + "</tv>");
    std::string error;
    std::unique_ptr<GuideStore> store = GuideStore::Open(GuideDatabasePath(), error);
    ASSERT_TRUE(store) << error;
    ASSERT_TRUE(ImportGuideFile(*store, guide, {{3, ""}, {5, ""}}).imported);
    RecordingRule film;
    film.title = "The Film";
    ASSERT_EQ(1, RecordingRules(*store).Add(film));

    CGuideRulesDlg dialog;
    auto* onNow = dialog.findChild<QListWidget*>("guideOnNow");
    auto* rules = dialog.findChild<QListWidget*>("recordingRules");
    ASSERT_TRUE(onNow && rules);
    EXPECT_EQ("The guide comes from " + QString::fromStdString(guide) + ".",
              dialog.findChild<QLabel*>("guideSource")->text());
    ASSERT_EQ(2, onNow->count());
    ASSERT_TRUE(onNow->item(0)->text().endsWith("The News")) << onNow->item(0)->text().toStdString();

    onNow->setCurrentRow(0);
    dialog.RecordChosen(true);
    QStringList texts = Texts(rules);
    ASSERT_EQ(2, texts.size());
    EXPECT_TRUE(texts[1].startsWith("Rule 2: every new episode of \"The News\" on channel 3")) << texts[1].toStdString();
    EXPECT_TRUE(texts[1].contains("will not record \"The News\" on channel 3")) << "the film was there first";

    rules->setCurrentRow(1);
    dialog.PreferChosenRule();
    texts = Texts(rules);
    EXPECT_TRUE(texts[0].startsWith("Rule 2:")) << "the preferred rule comes first";
    EXPECT_TRUE(texts[0].contains("\n  records \"The News\"")) << texts[0].toStdString();
    EXPECT_TRUE(texts[1].contains("will not record \"The Film\"")) << texts[1].toStdString();

    rules->setCurrentRow(1);
    dialog.RemoveChosenRule();
    EXPECT_EQ(1, rules->count());

    WriteFileBytes(config.Root() + "/broken.xml", "<tv><programme channel=\"n\"");
    dialog.Import(config.Root() + "/broken.xml");
    const std::vector<std::string> told = sink.Texts();
    ASSERT_EQ(1u, told.size());
    EXPECT_TRUE(told[0].starts_with("The guide was not imported, and the old guide stays: ")) << told[0];
    EXPECT_EQ(2, onNow->count());
    SetMessageSink(nullptr);
}

} // namespace
