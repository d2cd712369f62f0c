// The Qt window held to what both windows must show for the same folder file
// (support/WindowExpectations.h, which the Windows window's driver checks
// too): its rows, the order of a click on "Subject", the preview and the
// exported bytes.

#include <QTest>

#include <string>
#include <vector>

#include "MessageListFixture.h"
#include "emailexport/emailexport.h"
#include "frmMainWindow/qt/CorvaneApplication.h"
#include "frmMainWindow/qt/frmMainWindow.h"
#include "mailsession/SessionTexts.h"
#include "support/WindowExpectations.h"

using corvane::testsupport::ExpectedWindowRows;
using corvane::testsupport::TExpectedRow;

namespace {

std::vector<std::string> Numbers(const TfrmMain& w) {
    std::vector<std::string> numbers;
    for (const QString& n : fixture::Column(w, 0)) numbers.push_back(n.toStdString());
    return numbers;
}

}  // namespace

class TestSharedRows : public QObject {
    Q_OBJECT

private:
    TfrmMain* w = nullptr;
    std::string folderFile;
    QStringList boxes;

    void Expect(const std::vector<TExpectedRow>& rows) {
        QCOMPARE(fixture::RowCount(*w), static_cast<int>(rows.size()));
        for (int row = 0; row < fixture::RowCount(*w); ++row)
            for (int c = 0; c < 5; ++c) QCOMPARE(fixture::Text(*w, row, c).toStdString(), rows[row].Cells[c]);
    }

private slots:
    void initTestCase() {
        TCorvaneApplication::ErrorBoxHook = [this](const QString& text) { boxes << text; };
        folderFile = fixture::NewFolder("shared") + "/Inbox.dbx";
        corvane::testsupport::WriteWindowFixture(folderFile);
    }

    void init() {
        boxes.clear();
        w = new TfrmMain;
        w->InformationBoxHook = [this](const QString& text) { boxes << text; };
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
    }

    void cleanup() {
        delete w;
        w = nullptr;
    }

    void rowsWithAndWithoutTheDeleted() {
        QCOMPARE(w->OpenDbxFiles({QString::fromStdString(folderFile)}), 1);
        Expect(ExpectedWindowRows(false));
        QTest::mouseClick(w->cbdeletedemails, Qt::LeftButton);
        Expect(ExpectedWindowRows(true));
    }

    void subjectClicksAndThePreview() {
        w->OpenDbxFiles({QString::fromStdString(folderFile)});
        const std::vector<TExpectedRow> rows = ExpectedWindowRows(false);
        fixture::ClickHeading(*w, corvane::session::ColSubject);
        QCOMPARE(Numbers(*w), corvane::testsupport::NumbersBySubject(rows, false));
        fixture::ClickHeading(*w, corvane::session::ColSubject);
        QCOMPARE(Numbers(*w), corvane::testsupport::NumbersBySubject(rows, true));
        for (int k : {6, 0, 9}) {
            fixture::ClickRow(*w, fixture::RowNumbered(*w, k));
            QCoreApplication::processEvents();
            QCoreApplication::processEvents();
            QCOMPARE(w->txtmsgbody->toPlainText(),
                     fixture::AsPreview("\r\n" + corvane::testsupport::BodyOf(rows[static_cast<std::size_t>(k)])));
        }
    }

    void theExportWritesWhatTheEngineWrites() {
        QTest::mouseClick(w->cbdeletedemails, Qt::LeftButton);
        w->OpenDbxFiles({QString::fromStdString(folderFile)});
        fixture::ClickHeading(*w, corvane::session::ColSubject);
        fixture::Tick(*w, {0, 2, 5});
        const std::string out = fixture::NewFolder("shared-out");
        w->ChooseExportFolder = [&out](const std::string&, const std::string&, bool) { return out; };
        QTest::mouseClick(w->sbSaveEmail, Qt::LeftButton);
        QCOMPARE(boxes, QStringList{corvane::session::texts::kExported});
        QCOMPARE(fixture::FilesIn(out),
                 (std::vector<std::string>{"RecoveredEmail0.eml", "RecoveredEmail2.eml", "RecoveredEmail5.eml"}));
        const std::string engine = fixture::NewFolder("shared-engine");
        corvane::mail::ExportEmails(w->Session.TickedItems(), engine);
        const std::vector<TExpectedRow> rows = ExpectedWindowRows(true);
        for (int row : {0, 2, 5}) {
            const std::string name = "/RecoveredEmail" + std::to_string(row) + ".eml";
            const std::string bytes = fixture::ReadAll(out + name);
            QCOMPARE(bytes, fixture::ReadAll(engine + name));
            const int k = fixture::Text(*w, row, 0).toInt();
            QVERIFY(bytes.find(corvane::testsupport::BodyOf(rows[static_cast<std::size_t>(k)])) != std::string::npos);
        }
    }
};

CORVANE_WINDOW_TEST_MAIN(TestSharedRows)
#include "tst_sharedrows.moc"
