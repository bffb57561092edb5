#include "sheet/catalogue.h"

#include <QtTest>

#include <set>
#include <string>

using namespace pp;

namespace {
QString q(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}
} // namespace

class TestCatalogue : public QObject {
    Q_OBJECT
private slots:
    void rowsStandAtTheirEnumIndex() {
        for (size_t i = 0; i < SysCount; ++i)
            QCOMPARE(size_t(systemCatalogue()[i].id), i);
        for (size_t i = 0; i < PartCount; ++i)
            QCOMPARE(size_t(partCatalogue()[i].id), i);
        QCOMPARE(SysCount, size_t(30));
        QCOMPARE(PartCount, size_t(30));
    }

    void systemDownloadSequenceIsComplete() {
        // 0..25 each taken once; the clock's five items fill 19..23.
        std::multiset<int> used;
        for (const auto& r : systemCatalogue()) {
            if (r.downloadIndex < 0)
                continue;
            if (r.kind == SysKind::Clock) {
                QCOMPARE(r.downloadIndex, 19);
                for (int k = 0; k < ClockDownloadItems; ++k)
                    used.insert(r.downloadIndex + k);
            } else {
                used.insert(r.downloadIndex);
            }
        }
        QCOMPARE(int(used.size()), 26);
        for (int i = 0; i <= 25; ++i)
            QCOMPARE(int(used.count(i)), 1);
        // Nothing of the option block is ever downloaded.
        for (const auto& r : systemCatalogue())
            if (r.kind == SysKind::OptionInfo)
                QCOMPARE(r.downloadIndex, -1);
    }

    void systemUploadPositionsAreDistinct() {
        std::set<int> flags, fields;
        for (const auto& r : systemCatalogue()) {
            if (r.flagPos != 0) {
                QCOMPARE(r.uploadField, 0);
                QVERIFY(flags.insert(r.flagPos).second);
            } else if (r.uploadField >= 0) {
                QVERIFY(fields.insert(r.uploadField).second);
            }
        }
        QCOMPARE(flags, (std::set<int>{3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));
        QCOMPARE(fields, (std::set<int>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    }

    void partWirePositions() {
        for (const auto& r : partCatalogue()) {
            QCOMPARE(r.downloadIndex, int(r.id));
            if (r.kind == PartKind::Option) {
                QCOMPARE(r.uploadField, 1);
                QCOMPARE(r.flagPos, r.downloadIndex + 1);
            } else {
                // The three options share field 1, so every later field is one lower.
                QCOMPARE(r.uploadField, r.downloadIndex - 1);
                QCOMPARE(r.flagPos, 0);
            }
        }
    }

    void reportLabels() {
        for (const auto& r : partCatalogue())
            QVERIFY2(r.reportLabel.size() == 14, r.stem.data());
        QCOMPARE(q(row(Part::CalOffset).reportLabel), QString("CAL OFFSET    "));
        QCOMPARE(q(row(Part::PresDecay).reportLabel), QString("PR DECAY LIM: "));
        for (const auto& r : systemCatalogue()) {
            if (r.id == Sys::OptionCode)
                QVERIFY(r.reportLabel.empty());
            else
                QVERIFY2(r.reportLabel.ends_with(": "), r.stem.data());
        }
        QCOMPARE(q(row(Sys::Serial).reportLabel), QString("QX7400  SN: "));
        QCOMPARE(q(row(Sys::Time).reportLabel), QString("TIME: "));
        QCOMPARE(q(row(Sys::Block).reportLabel), QString("BLOCKED COOLER TEST: "));
    }

    void rangesHoldTheirStart() {
        for (const auto& r : systemCatalogue()) {
            if (r.slider.empty())
                continue;
            QVERIFY2(r.range.min <= r.range.start && r.range.start <= r.range.max, r.stem.data());
        }
        for (const auto& r : partCatalogue()) {
            if (r.slider.empty())
                continue;
            QVERIFY2(r.range.min <= r.range.start && r.range.start <= r.range.max, r.stem.data());
            QCOMPARE(int(r.range.small), 1);
            QCOMPARE(int(r.range.large), 10);
        }
    }

    void controlNamesFollowTheStemExceptTheTwoOddOnes() {
        for (const auto& r : systemCatalogue()) {
            const std::string expected =
                r.id == Sys::DrnVlvDelay ? "txtDrvVlvDelay" : "txt" + std::string(r.stem);
            QCOMPARE(q(r.textBox), q(expected));
            if (!r.slider.empty())
                QCOMPARE(q(r.slider), q("scr" + std::string(r.stem)));
        }
        for (const auto& r : partCatalogue()) {
            const std::string expected =
                r.id == Part::NegLimit ? "txtNeglimit" : "txt" + std::string(r.stem);
            QCOMPARE(q(r.textBox), q(expected));
            const bool hasSlider = r.kind != PartKind::Option && r.kind != PartKind::Code;
            QCOMPARE(!r.slider.empty(), hasSlider);
            if (hasSlider)
                QCOMPARE(q(r.slider), q("scr" + std::string(r.stem)));
        }
    }

    void optionRowsAreComplete() {
        for (const auto& r : systemCatalogue()) {
            const bool pair = r.kind == SysKind::TwoState;
            QCOMPARE(!r.options[0].empty() && !r.options[1].empty(), pair);
            QCOMPARE(!r.states[0].empty() && !r.states[1].empty(), pair);
        }
        const auto& tb = row(Part::TimeBase);
        QCOMPARE(q(tb.options[0]), QString("optTBFast"));
        QCOMPARE(q(tb.states[0]), QString("0.1 SEC"));
        QCOMPARE(q(tb.options[1]), QString("optTBSlow"));
        QCOMPARE(q(tb.states[1]), QString("1 SEC"));
        const auto& zs = row(Part::ZeroSel);
        QCOMPARE(q(zs.options[2]), QString("optZSOffset"));
        QCOMPARE(q(zs.states[2]), QString("OFFSET"));
        QCOMPARE(q(row(Sys::DrnVlv).states[1]), QString("N CLOSED"));
        QCOMPARE(q(row(Sys::PresEngUnits).states[1]), QString("kPa"));
        QCOMPARE(q(row(Sys::RTCPrompt).options[0]), QString("optRTCPromptOFF"));
    }

    void generationRows() {
        std::set<std::string> v73;
        for (const auto& r : systemCatalogue())
            if (r.v73Only)
                v73.insert(std::string(r.stem));
        for (const auto& r : partCatalogue())
            if (r.v73Only)
                v73.insert(std::string(r.stem));
        QCOMPARE(v73, (std::set<std::string>{"InitFlowChk", "InitLimit", "InitTime"}));
        QCOMPARE(q(row(Sys::InitFlowChk).frame), QString("frmInitFlowCheck"));
        QCOMPARE(q(row(Part::InitLimit).frame), QString("frmInitFlowLimit"));
        QCOMPARE(q(row(Part::InitTime).frame), QString("frmInitFlowTime"));
        QCOMPARE(q(generationWord(Generation::None)), QString());
        QCOMPARE(q(generationWord(Generation::V70)), QString("V7.0"));
        QCOMPARE(q(generationWord(Generation::V73)), QString("V7.3"));
        QCOMPARE(q(generationStatusText(Generation::V70)), QString("QX7400 V7.2 or earlier"));
        QCOMPARE(q(generationStatusText(Generation::V73)), QString("QX7400 V7.3 or later"));
        QCOMPARE(q(generationStatusText(Generation::None)), QString());
    }
};

QTEST_APPLESS_MAIN(TestCatalogue)
#include "test_sheet_catalogue.moc"
