// Every text the engine shows to the user, gathered in one table.
//
// The engine reports a text as its entry here (the text's id) with the
// arguments for its printf-style %s and %d places (EngineText); a front end
// translates the entry where it shows it and then fills in the arguments,
// so file names and library errors are never translated. "%%" is a literal
// percent sign.
//
// QT_TRANSLATE_NOOP (common/TextMarks.h) marks each text for lupdate.
#pragma once

#include <cstdio>
#include <string>
#include <utility>

#include "common/Text.h"
#include "common/TextMarks.h"

namespace quelvox {

// A text of this table with its printf-style arguments filled in (the
// arguments are values, so a file name holding "%d" stays as it is).
template <typename... Args>
std::string FillText(const char* text, Args... args) {
    const int size = std::snprintf(nullptr, 0, text, args...);
    if (size <= 0) return {};
    std::string out(static_cast<size_t>(size) + 1, '\0');
    std::snprintf(out.data(), out.size(), text, args...);
    out.resize(static_cast<size_t>(size));
    return out;
}

// The translation context of every text in this table.
inline constexpr const char* kEngineTextContext = "Engine";

// The entry `id` of this table with its arguments.
template <typename... Args>
Text EngineText(const char* id, Args&&... args) {
    return Text::Marked(kEngineTextContext, id, std::forward<Args>(args)...);
}

// Rows of a run.
inline constexpr const char* kFailedRow = QT_TRANSLATE_NOOP("Engine", "转换失败");
// A failure with its detail (an error detail, a write failure).
inline constexpr const char* kFailedWithDetailRow = QT_TRANSLATE_NOOP("Engine", "转换失败 (%s)");
inline constexpr const char* kNoAudioRow = QT_TRANSLATE_NOOP("Engine", "在文件中无音频");
inline constexpr const char* kCancelledRow = QT_TRANSLATE_NOOP("Engine", "已取消");
inline constexpr const char* kPreprocessingRow = QT_TRANSLATE_NOOP("Engine", "预处理中...");
inline constexpr const char* kNormalisingRow = QT_TRANSLATE_NOOP("Engine", "标准化...");
inline constexpr const char* kConvertingRow = QT_TRANSLATE_NOOP("Engine", "正在转换...");
inline constexpr const char* kSoundfontMissingRow =
    QT_TRANSLATE_NOOP("Engine", "失败. 需要文件 \"ct4mgm.sf2\".");
inline constexpr const char* kMergedCreateFailed =
    QT_TRANSLATE_NOOP("Engine", "无法创建文件 \"%s\".");
// Error detail when the skip length is not shorter than the file.
inline constexpr const char* kSkipTooLongDetail =
    QT_TRANSLATE_NOOP("Engine", "文件长度短于选项 ->常规设置的跳过长度");
// Error detail when the output could not be written; %s is the cause,
// kWriteFailedCause when the writer named none.
inline constexpr const char* kWriteFailedDetail =
    QT_TRANSLATE_NOOP("Engine", "无法写入输出文件: %s");
inline constexpr const char* kWriteFailedCause = QT_TRANSLATE_NOOP("Engine", "写入失败");
// Error details of a conversion that could not set up its writer or its
// sample conversion, or that ended without an output.
inline constexpr const char* kNoEncoderSettingsDetail =
    QT_TRANSLATE_NOOP("Engine", "没有适合此源文件的编码设置");
inline constexpr const char* kEncoderNotStartedDetail =
    QT_TRANSLATE_NOOP("Engine", "无法启动编码器");
inline constexpr const char* kSampleConversionDetail =
    QT_TRANSLATE_NOOP("Engine", "无法设置采样转换");
inline constexpr const char* kOutputNotWrittenDetail =
    QT_TRANSLATE_NOOP("Engine", "无法写入输出文件");
inline constexpr const char* kNothingDecodedDetail = QT_TRANSLATE_NOOP("Engine", "无法解码任何内容");
// A source that is gone since it was listed, or is a folder now.
inline constexpr const char* kSourceNotFoundDetail =
    QT_TRANSLATE_NOOP("Engine", "找不到源文件");
inline constexpr const char* kSourceIsFolderDetail =
    QT_TRANSLATE_NOOP("Engine", "源文件是文件夹, 不是文件");
// Tags: a file whose tags could not be saved fails; fields an output
// cannot hold are left out with a note (the second names the field).
inline constexpr const char* kTagsNotSavedDetail =
    QT_TRANSLATE_NOOP("Engine", "无法写入标签: %s");
inline constexpr const char* kTagsDroppedNote =
    QT_TRANSLATE_NOOP("Engine", "%s: 部分标签无法写入, 已略去");
inline constexpr const char* kTagFieldDroppedNote =
    QT_TRANSLATE_NOOP("Engine", "%s: 已略去标签 %s (%s)");
// A source of more channels than a block carries keeps its first ones.
inline constexpr const char* kChannelsDroppedNote =
    QT_TRANSLATE_NOOP("Engine", "%s: 源文件有 %d 个声道, 只保留了前 %d 个");
// Samples an output clipped (an integer one at full scale, a lossy one far
// beyond it): the row's output cell (the output name, the count) and the
// note on the file.
inline constexpr const char* kClippedRow = QT_TRANSLATE_NOOP("Engine", "%s (削波: %d 个采样)");
inline constexpr const char* kClippedNote = QT_TRANSLATE_NOOP("Engine", "%s: 削波: %d 个采样");
// An unfinished output that could not be removed (its folder became
// read-only), named so that the user can remove it.
inline constexpr const char* kPartFileLeftNote =
    QT_TRANSLATE_NOOP("Engine", "无法删除未完成的输出文件: %s");
// An output the true-peak ceiling held short of the target loudness (the
// limiter off): its row's tooltip, and the note that names it.
inline constexpr const char* kHeldByCeilingTip =
    QT_TRANSLATE_NOOP("Engine", "受真峰值上限所限, 响度停在 %s LUFS");
inline constexpr const char* kHeldByCeilingNote =
    QT_TRANSLATE_NOOP("Engine", "%s: 受真峰值上限所限, 响度停在 %s LUFS");

// Output paths.
inline constexpr const char* kFolderFailed = QT_TRANSLATE_NOOP("Engine", "无法创建文件夹 \"%s\"");
inline constexpr const char* kFileFailed = QT_TRANSLATE_NOOP("Engine", "无法创建文件 \"%s\"");
inline constexpr const char* kTargetExistsSkipped = QT_TRANSLATE_NOOP("Engine", "目标存在并跳过");
// Row text when a target would replace its own source.
inline constexpr const char* kSameAsSourceMessage = QT_TRANSLATE_NOOP(
    "Engine", "目标文件名与源文件相同, 文件不能被覆盖. 请输出文件到自定义文件夹.");
// A merged file named with another format's extension gets its format's
// appended: the extension, then the name it gets.
inline constexpr const char* kMergeExtensionNote =
    QT_TRANSLATE_NOOP("Engine", "合并文件使用其格式的扩展名 %s: %s");

// Progress of a run: the run's text, a file's start, and the passes'
// percentages.
inline constexpr const char* kRunText = QT_TRANSLATE_NOOP("Engine", "转换 %d of %d 文件到 %s...");
inline constexpr const char* kFileStartText = QT_TRANSLATE_NOOP("Engine", "开始转换 %s...");
inline constexpr const char* kConvertingPass = QT_TRANSLATE_NOOP("Engine", "[%d%%] 正在转换 %s...");
inline constexpr const char* kNormalisingPass =
    QT_TRANSLATE_NOOP("Engine", "[%d%%] 正在标准化 %s...");
inline constexpr const char* kPreprocessingPass =
    QT_TRANSLATE_NOOP("Engine", "[%d%%] 正在预处理 %s...");

// Adding files.
inline constexpr const char* kAddingText = QT_TRANSLATE_NOOP("Engine", "[%d/%d] 正在添加文件 %s..");
// The head of the message listing the files that could not be added; the
// failed files follow, each group with the note that explains it.
inline constexpr const char* kAddFailedHead = QT_TRANSLATE_NOOP("Engine", "无法载入以下文件.");
inline constexpr const char* kAddSupportNote =
    QT_TRANSLATE_NOOP("Engine", "要获取帮助, 请发送失败文件到 <%s>.");
inline constexpr const char* kUnrepresentableNameNote = QT_TRANSLATE_NOOP(
    "Engine", "有些文件的文件名含有非英文字符. 请删除文件名的这些字符然后再次尝试.");
inline constexpr const char* kReaderSupportNote =
    QT_TRANSLATE_NOOP("Engine", "要获得帮助, 请发送失败文件到 <%s>.");
// Why a file could not be added: its path is longer than the system takes.
// A symbolic link in an added folder that leads back to itself: skipped,
// and named; %s is its path.
inline constexpr const char* kLinkLoopSkippedNote =
    QT_TRANSLATE_NOOP("Engine", "%s: 符号链接循环, 已跳过");
inline constexpr const char* kPathTooLongReason = QT_TRANSLATE_NOOP("Engine", "路径太长");
inline constexpr const char* kCdaOnDiskNote =
    QT_TRANSLATE_NOOP("Engine", "重要: 请不要添加硬盘中的 CDA 文件, 只能添加CD 驱动器的CDA 文件.");
// Why a CUE sheet was not added (the note below its paths).
inline constexpr const char* kCueUnparsableNote =
    QT_TRANSLATE_NOOP("Engine", "CUE 表单无法解析.");
inline constexpr const char* kCueTooLargeNote = QT_TRANSLATE_NOOP("Engine", "CUE 表单太大.");
inline constexpr const char* kCueNoTrackNote =
    QT_TRANSLATE_NOOP("Engine", "CUE 表单中没有音轨.");
inline constexpr const char* kCueImageMissingNote =
    QT_TRANSLATE_NOOP("Engine", "找不到 CUE 表单指定的音频文件.");
inline constexpr const char* kCueImageUnreadableNote =
    QT_TRANSLATE_NOOP("Engine", "CUE 表单指定的音频文件无法解码.");
inline constexpr const char* kCueBeyondImageNote =
    QT_TRANSLATE_NOOP("Engine", "CUE 表单的索引超出了音频文件的长度.");
// A sheet added with fewer tracks than it lists: its path, how many it
// lists, how many were listed.
inline constexpr const char* kCueTracksCutNote =
    QT_TRANSLATE_NOOP("Engine", "%s: CUE 表单列有 %d 个音轨, 只列出了前 %d 个音轨.");
inline constexpr const char* kBrokenSwfFlvNote = QT_TRANSLATE_NOOP(
    "Engine",
    "注意: 要转换损坏的SWF和FLV文件,您可以使用 FFmpeg 命令行工具 (https://ffmpeg.org) 先修复它们.");

// Questions of a run.
inline constexpr const char* kWmaRuntimeQuestion =
    QT_TRANSLATE_NOOP("Engine",
                      "亲爱的用户, WMA 文件需要 Windows Media Format 9 Series Runtime.\n"
                      "遗憾的是, 该组件在您的计算机上不存在.\n\n您要下载并立即安装它吗?");
inline constexpr const char* kSoundfontQuestion =
    QT_TRANSLATE_NOOP("Engine",
                      "亲爱的用户, 要对MIDI文件进行编码, 需要 \"ct4mgm.sf2\" 文件.\n"
                      "遗憾的是, 该文件在您的计算机上不存在.\n\n"
                      "您要从我们的网站上免费下载该文件吗?\n\n"
                      "下载完成后, 请复制文件 到文件夹:\n\"%s\"\n"
                      "然后再次转换您的 MIDI 文件. 谢谢您.");

// Shown when the decoding layer cannot be initialised; the program then
// ends.
inline constexpr const char* kInitFailedMessage =
    QT_TRANSLATE_NOOP("Engine", "初始化软件失败 (0x0002020).");

// List cells: channel layouts with a name.
inline constexpr const char* kMonoCell = QT_TRANSLATE_NOOP("Engine", "单声");
inline constexpr const char* kStereoCell = QT_TRANSLATE_NOOP("Engine", "立体声");

}  // namespace quelvox
