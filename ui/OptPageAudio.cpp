#include "ui/OptPageAudio.h"

#include "l10n/Translation.h"
#include "settings/SettingDecl.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>

namespace quelvox::ui {

namespace {

// Selects the item whose value is `value`, or the first item.
void SelectValueOrFirst(QComboBox* combo, int value) {
    const int index = combo->findData(value);
    combo->setCurrentIndex(index >= 0 ? index : 0);
}

// The selected item's value, or `none` when nothing is selected.
int SelectedValue(const QComboBox* combo, int none) {
    return combo->currentIndex() >= 0 ? combo->currentData().toInt() : none;
}

}  // namespace

COptPageAudio::COptPageAudio(const std::vector<OutputFormatEntry>& catalogue, size_t entryIndex,
                             COptServices& services, QWidget* parent)
    : COptPage(ShowText(FormatPageName(catalogue[entryIndex])), services, parent),
      entry_(catalogue[entryIndex]),
      entryIndex_(entryIndex) {}

QString COptPageAudio::RateLabel(int rate) { return tr("%1 Hz").arg(rate); }

QString COptPageAudio::BitRateLabel(int value) {
    if (value < 1000) return tr("%1 bit").arg(value);
    if (value % 1000 != 0) return tr("%1 kbps").arg(value / 1000.0, 0, 'f', 2);
    return tr("%1 kbps").arg(value / 1000);
}

void COptPageAudio::Build() {
    QGroupBox* group = AddGroup(tr("编码选项"));
    auto* g = new QGridLayout(group);
    auto addRow = [&](const QString& label, QComboBox* combo, int row) {
        auto* l = new QLabel(label, group);
        l->setBuddy(combo);
        g->addWidget(l, row, 0);
        g->addWidget(combo, row, 1);
    };
    codec_ = new QComboBox(group);
    codec_->setObjectName("codec");
    addRow(tr("编码器(&C):"), codec_, 0);
    auto_ = new QCheckBox(tr("自动 (程序将选择最佳方案)(&U)"), group);
    auto_->setObjectName("auto");
    g->addWidget(auto_, 1, 1);
    rate_ = new QComboBox(group);
    rate_->setObjectName("sampleRate");
    addRow(tr("采样率(&R):"), rate_, 2);
    bitRate_ = new QComboBox(group);
    bitRate_->setObjectName("bitRate");
    addRow(tr("比特率(&B):"), bitRate_, 3);
    channels_ = new QComboBox(group);
    channels_->setObjectName("channels");
    addRow(tr("声道:"), channels_, 4);
    g->setColumnStretch(1, 1);

    for (const CodecEntry* codec : entry_.codecs) {
        codec_->addItem(ShowText(CatalogueName(codec->name)), codec->CodecID);
    }
    // A stored codec the format does not offer gives way to the first one,
    // with that codec's lists, rather than to empty lists.
    int index = codec_->findData(entry_.CodecID);
    if (index < 0 && codec_->count() > 0) {
        index = 0;
        entry_.CodecID = codec_->itemData(0).toInt();
    }
    codec_->setCurrentIndex(index);
    auto_->setChecked(entry_.AutoEncParam != 0);
    FillLists();
    UpdateEnabling();

    connect(codec_, &QComboBox::currentIndexChanged, this, [this] {
        // The values chosen so far decide the new lists' selections.
        TakeSelections();
        entry_.CodecID = codec_->currentData().toInt();
        FillLists();
        UpdateEnabling();
    });
    connect(auto_, &QCheckBox::clicked, this, [this](bool on) {
        entry_.AutoEncParam = on ? 1 : 0;
        UpdateEnabling();
    });
}

void COptPageAudio::FillLists() {
    rate_->clear();
    bitRate_->clear();
    channels_->clear();
    hasRates_ = hasBitRates_ = false;
    const CodecEntry* codec = nullptr;
    for (const CodecEntry* c : entry_.codecs) {
        if (c->CodecID == entry_.CodecID) codec = c;
    }
    if (!codec) return;

    if (!codec->sampleRates.empty()) {
        hasRates_ = true;
        for (int rate : codec->sampleRates) rate_->addItem(RateLabel(rate), rate);
        if (codec->sampleRates.size() > 1) {
            rate_->addItem(tr("自动 (程序将自动选择最佳采样率)"), 0);
        }
        SelectValueOrFirst(rate_, entry_.SampleRate);
    }
    if (!codec->bitRates.empty()) {
        hasBitRates_ = true;
        for (int value : codec->bitRates) bitRate_->addItem(BitRateLabel(value), value);
        if (codec->bitRates.size() > 1) {
            bitRate_->addItem(tr("自动 (程序将自动选择最佳比特率)"), 0);
        }
        SelectValueOrFirst(bitRate_, entry_.BitRate);
    }
    const bool stereo = codec->channelMask & kChannelMaskStereo;
    const bool mono = codec->channelMask & kChannelMaskMono;
    if (stereo) channels_->addItem(tr("立体声"), 2);
    if (mono) channels_->addItem(tr("单声"), 1);
    if (codec->channelMask & kChannelMask51) channels_->addItem(tr("5.1 环绕声"), 6);
    if (codec->channelMask & kChannelMask71) channels_->addItem(tr("7.1 环绕声"), 8);
    if (stereo && mono) channels_->addItem(tr("自动 (程序将选择最佳声道)"), 0);
    SelectValueOrFirst(channels_, entry_.Channels);
}

void COptPageAudio::UpdateEnabling() {
    const bool manual = !auto_->isChecked();
    rate_->setEnabled(hasRates_ && manual);
    bitRate_->setEnabled(hasBitRates_ && manual);
    channels_->setEnabled(manual);
}

void COptPageAudio::TakeSelections() {
    if (rate_->currentIndex() >= 0) entry_.SampleRate = rate_->currentData().toInt();
    if (bitRate_->currentIndex() >= 0) entry_.BitRate = bitRate_->currentData().toInt();
    if (channels_->currentIndex() >= 0) entry_.Channels = channels_->currentData().toInt();
}

void COptPageAudio::OnApply() {
    entry_.AutoEncParam = auto_->isChecked() ? 1 : 0;
    entry_.CodecID = SelectedValue(codec_, entry_.CodecID);
    entry_.SampleRate = SelectedValue(rate_, 0);
    entry_.BitRate = SelectedValue(bitRate_, 0);
    // No channel item selected: the program chooses.
    entry_.Channels = SelectedValue(channels_, 0);
}

void COptPageAudio::StoreTo(CSettings&, std::vector<OutputFormatEntry>& catalogue) const {
    OutputFormatEntry& entry = catalogue[entryIndex_];
    for (const FormatSettingDecl& value : setting::kFormatTable) {
        entry.*value.field = entry_.*value.field;
    }
}

}  // namespace quelvox::ui
