<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>Engine</name>
    <message>
        <source>转换失败</source>
        <translation>Conversion failed</translation>
    </message>
    <message>
        <source>转换失败 (%s)</source>
        <translation>Conversion failed (%s)</translation>
    </message>
    <message>
        <source>在文件中无音频</source>
        <translation>No audio in the file</translation>
    </message>
    <message>
        <source>已取消</source>
        <translation>Cancelled</translation>
    </message>
    <message>
        <source>预处理中...</source>
        <translation>Preprocessing...</translation>
    </message>
    <message>
        <source>标准化...</source>
        <translation>Normalising...</translation>
    </message>
    <message>
        <source>正在转换...</source>
        <translation>Converting...</translation>
    </message>
    <message>
        <source>失败. 需要文件 &quot;ct4mgm.sf2&quot;.</source>
        <translation>Failed. The file &quot;ct4mgm.sf2&quot; is needed.</translation>
    </message>
    <message>
        <source>无法创建文件 &quot;%s&quot;.</source>
        <translation>Could not create the file &quot;%s&quot;.</translation>
    </message>
    <message>
        <source>文件长度短于选项 -&gt;常规设置的跳过长度</source>
        <translation>The file is shorter than the skip length in Options -&gt; General</translation>
    </message>
    <message>
        <source>无法写入输出文件: %s</source>
        <translation>Could not write the output file: %s</translation>
    </message>
    <message>
        <source>写入失败</source>
        <translation>write failed</translation>
    </message>
    <message>
        <source>没有适合此源文件的编码设置</source>
        <translation>no encoder settings fit this source</translation>
    </message>
    <message>
        <source>无法启动编码器</source>
        <translation>the encoder could not be started</translation>
    </message>
    <message>
        <source>无法设置采样转换</source>
        <translation>the sample conversion could not be set up</translation>
    </message>
    <message>
        <source>无法写入输出文件</source>
        <translation>the output file could not be written</translation>
    </message>
    <message>
        <source>无法解码任何内容</source>
        <translation>nothing could be decoded</translation>
    </message>
    <message>
        <source>无法删除未完成的输出文件: %s</source>
        <translation>could not remove the unfinished output file: %s</translation>
    </message>
    <message>
        <source>找不到源文件</source>
        <translation>source file not found</translation>
    </message>
    <message>
        <source>源文件是文件夹, 不是文件</source>
        <translation>the source is a folder, not a file</translation>
    </message>
    <message>
        <source>无法创建文件夹 &quot;%s&quot;</source>
        <translation>Could not create the folder &quot;%s&quot;</translation>
    </message>
    <message>
        <source>无法创建文件 &quot;%s&quot;</source>
        <translation>Could not create the file &quot;%s&quot;</translation>
    </message>
    <message>
        <source>目标存在并跳过</source>
        <translation>Target exists, skipped</translation>
    </message>
    <message>
        <source>目标文件名与源文件相同, 文件不能被覆盖. 请输出文件到自定义文件夹.</source>
        <translation>The target is the source file itself and cannot be overwritten. Please choose an output folder of your own.</translation>
    </message>
    <message>
        <source>合并文件使用其格式的扩展名 %s: %s</source>
        <translation>the merge file gets the extension %s of its format: %s</translation>
    </message>
    <message>
        <source>转换 %d of %d 文件到 %s...</source>
        <translation>Converting %d of %d files to %s...</translation>
    </message>
    <message>
        <source>开始转换 %s...</source>
        <translation>Starting to convert %s...</translation>
    </message>
    <message>
        <source>[%d%%] 正在转换 %s...</source>
        <translation>[%d%%] Converting %s...</translation>
    </message>
    <message>
        <source>[%d%%] 正在标准化 %s...</source>
        <translation>[%d%%] Normalising %s...</translation>
    </message>
    <message>
        <source>[%d%%] 正在预处理 %s...</source>
        <translation>[%d%%] Preprocessing %s...</translation>
    </message>
    <message>
        <source>[%d/%d] 正在添加文件 %s..</source>
        <translation>[%d/%d] Adding file %s..</translation>
    </message>
    <message>
        <source>无法载入以下文件.</source>
        <translation>Could not load the following files.</translation>
    </message>
    <message>
        <source>要获取帮助, 请发送失败文件到 &lt;%s&gt;.</source>
        <translation>For help, please send the failed files to &lt;%s&gt;.</translation>
    </message>
    <message>
        <source>有些文件的文件名含有非英文字符. 请删除文件名的这些字符然后再次尝试.</source>
        <translation>Some file names contain characters that cannot be read. Please remove these characters from the file names and try again.</translation>
    </message>
    <message>
        <source>要获得帮助, 请发送失败文件到 &lt;%s&gt;.</source>
        <translation>For help, please send the failed file to &lt;%s&gt;.</translation>
    </message>
    <message>
        <source>重要: 请不要添加硬盘中的 CDA 文件, 只能添加CD 驱动器的CDA 文件.</source>
        <translation>Important: do not add CDA files from a hard disk; CDA files can only be added from a CD drive.</translation>
    </message>
    <message>
        <source>注意: 要转换损坏的SWF和FLV文件,您可以使用 FFmpeg 命令行工具 (https://ffmpeg.org) 先修复它们.</source>
        <translation>Note: to convert damaged SWF and FLV files, first repair them with the FFmpeg command-line tool (https://ffmpeg.org).</translation>
    </message>
    <message>
        <source>亲爱的用户, WMA 文件需要 Windows Media Format 9 Series Runtime.
遗憾的是, 该组件在您的计算机上不存在.

您要下载并立即安装它吗?</source>
        <translation>Dear user, WMA files need the Windows Media Format 9 Series Runtime.
Unfortunately, it is not installed on your computer.

Do you want to download and install it now?</translation>
    </message>
    <message>
        <source>亲爱的用户, 要对MIDI文件进行编码, 需要 &quot;ct4mgm.sf2&quot; 文件.
遗憾的是, 该文件在您的计算机上不存在.

您要从我们的网站上免费下载该文件吗?

下载完成后, 请复制文件 到文件夹:
&quot;%s&quot;
然后再次转换您的 MIDI 文件. 谢谢您.</source>
        <translation>Dear user, encoding MIDI files needs the file &quot;ct4mgm.sf2&quot;.
Unfortunately, it is not on your computer.

Do you want to download it from our website for free?

When the download has finished, please copy the file to the folder:
&quot;%s&quot;
and convert your MIDI files again. Thank you.</translation>
    </message>
    <message>
        <source>初始化软件失败 (0x0002020).</source>
        <translation>Could not initialise the program (0x0002020).</translation>
    </message>
    <message>
        <source>单声</source>
        <translation>Mono</translation>
    </message>
    <message>
        <source>立体声</source>
        <translation>Stereo</translation>
    </message>
    <message>
        <source>%s: 符号链接循环, 已跳过</source>
        <translation>%s: symbolic link loop, skipped</translation>
    </message>
    <message>
        <source>路径太长</source>
        <translation>path too long</translation>
    </message>
    <message>
        <source>CUE 表单无法解析.</source>
        <translation>The CUE sheet cannot be parsed.</translation>
    </message>
    <message>
        <source>CUE 表单太大.</source>
        <translation>The CUE sheet is too large.</translation>
    </message>
    <message>
        <source>CUE 表单中没有音轨.</source>
        <translation>The CUE sheet lists no audio track.</translation>
    </message>
    <message>
        <source>找不到 CUE 表单指定的音频文件.</source>
        <translation>The audio file the CUE sheet names is missing.</translation>
    </message>
    <message>
        <source>CUE 表单指定的音频文件无法解码.</source>
        <translation>The audio file the CUE sheet names cannot be decoded.</translation>
    </message>
    <message>
        <source>CUE 表单的索引超出了音频文件的长度.</source>
        <translation>The CUE sheet&apos;s indexes lie beyond the end of its audio file.</translation>
    </message>
    <message>
        <source>%s: CUE 表单列有 %d 个音轨, 只列出了前 %d 个音轨.</source>
        <translation>%s: the CUE sheet lists %d tracks; only the first %d tracks are listed.</translation>
    </message>
    <message>
        <source>无法写入标签: %s</source>
        <translation>Cannot write the tags: %s</translation>
    </message>
    <message>
        <source>%s: 部分标签无法写入, 已略去</source>
        <translation>%s: some tags could not be written and were left out</translation>
    </message>
    <message>
        <source>%s: 已略去标签 %s (%s)</source>
        <translation>%s: left out tag %s (%s)</translation>
    </message>
    <message>
        <source>%s: 源文件有 %d 个声道, 只保留了前 %d 个</source>
        <translation>%s: the source has %d channels; only the first %d were kept</translation>
    </message>
    <message>
        <source>%s (削波: %d 个采样)</source>
        <translation>%s (clipped: %d samples)</translation>
    </message>
    <message>
        <source>%s: 削波: %d 个采样</source>
        <translation>%s: clipped: %d samples</translation>
    </message>
    <message>
        <source>受真峰值上限所限, 响度停在 %s LUFS</source>
        <translation>held at %s LUFS by the ceiling</translation>
    </message>
    <message>
        <source>%s: 受真峰值上限所限, 响度停在 %s LUFS</source>
        <translation>%s: held at %s LUFS by the ceiling</translation>
    </message>
</context>
<context>
    <name>FormatCatalogue</name>
    <message>
        <source>ALAC (Apple 无损音频编码)</source>
        <translation>ALAC (Apple Lossless Audio Codec)</translation>
    </message>
    <message>
        <source>AAC (高级音频编码)</source>
        <translation>AAC (Advanced Audio Coding)</translation>
    </message>
    <message>
        <source>FLAC (自由无损音频编码)</source>
        <translation>FLAC (Free Lossless Audio Codec)</translation>
    </message>
    <message>
        <source>3G2 (仅音频)</source>
        <translation>3G2 (audio only)</translation>
    </message>
    <message>
        <source>3GP (仅音频)</source>
        <translation>3GP (audio only)</translation>
    </message>
    <message>
        <source>AAC 适用iPod/iPhone/iPad/iTunes/DSi (*.m4a)</source>
        <translation>AAC for iPod/iPhone/iPad/iTunes/DSi (*.m4a)</translation>
    </message>
    <message>
        <source>AAC 适用iPod/DSi</source>
        <translation>AAC for iPod/DSi</translation>
    </message>
    <message>
        <source>ALAC (Apple 无损) (*.m4a)</source>
        <translation>ALAC (Apple Lossless) (*.m4a)</translation>
    </message>
    <message>
        <source>ASF (仅音频)</source>
        <translation>ASF (audio only)</translation>
    </message>
    <message>
        <source>AVI (仅音频)</source>
        <translation>AVI (audio only)</translation>
    </message>
    <message>
        <source>FLV (仅音频)</source>
        <translation>FLV (audio only)</translation>
    </message>
    <message>
        <source>M4A (MPEG-4 音频)</source>
        <translation>M4A (MPEG-4 Audio)</translation>
    </message>
    <message>
        <source>M4B (MPEG-4 有声读物)</source>
        <translation>M4B (MPEG-4 Audiobook)</translation>
    </message>
    <message>
        <source>M4R (iPhone 铃音)</source>
        <translation>M4R (iPhone Ringtone)</translation>
    </message>
    <message>
        <source>MOV (仅音频)</source>
        <translation>MOV (audio only)</translation>
    </message>
    <message>
        <source>MP4 (仅音频)</source>
        <translation>MP4 (audio only)</translation>
    </message>
    <message>
        <source>SWF (仅音频)</source>
        <translation>SWF (audio only)</translation>
    </message>
    <message>
        <source>WMV (仅音频)</source>
        <translation>WMV (audio only)</translation>
    </message>
</context>
</TS>
