<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>quelvox::ui::COptPageAmr</name>
    <message>
        <source>AMR</source>
        <translation>AMR</translation>
    </message>
    <message>
        <source>编码选项</source>
        <translation>Encoding Options</translation>
    </message>
    <message>
        <source>NB (窄频带, 8000 Hz)(&amp;N)</source>
        <translation>&amp;NB (narrow band, 8000 Hz)</translation>
    </message>
    <message>
        <source>WB (宽频带, 16000 Hz)(&amp;W)</source>
        <translation>&amp;WB (wide band, 16000 Hz)</translation>
    </message>
    <message>
        <source>比特率(&amp;B):</source>
        <translation>&amp;Bit rate:</translation>
    </message>
    <message>
        <source>比特率(&amp;R):</source>
        <translation>Bit &amp;rate:</translation>
    </message>
    <message>
        <source>启用 DTX (断续传输)(&amp;E)</source>
        <translation>&amp;Enable DTX (discontinuous transmission)</translation>
    </message>
</context>
<context>
    <name>quelvox::ui::COptPageAwb</name>
    <message>
        <source>AWB</source>
        <translation>AWB</translation>
    </message>
    <message>
        <source>编码选项</source>
        <translation>Encoding Options</translation>
    </message>
    <message>
        <source>采样频率: 16000 Hz</source>
        <translation>Sample rate: 16000 Hz</translation>
    </message>
    <message>
        <source>比特率(&amp;B):</source>
        <translation>&amp;Bit rate:</translation>
    </message>
    <message>
        <source>启用 DTX (断续传输)(&amp;E)</source>
        <translation>&amp;Enable DTX (discontinuous transmission)</translation>
    </message>
</context>
<context>
    <name>quelvox::ui::CAboutBox</name>
    <message>
        <source>关于 %1</source>
        <translation>About %1</translation>
    </message>
    <message>
        <source>版本 %1</source>
        <translation>Version %1</translation>
    </message>
    <message>
        <source>批量音频转换器: 把音频文件和视频文件的音轨
转换为三十一种输出格式之一.</source>
        <translation>Batch audio converter: turns audio files and the audio
tracks of video files into one of thirty-one output formats.</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>quelvox::ui::CFileDialogs</name>
    <message>
        <source>%1 文件 (*.%2)</source>
        <translation>%1 Files (*.%2)</translation>
    </message>
    <message>
        <source>请选择文件夹:</source>
        <translation>Please choose a folder:</translation>
    </message>
    <message>
        <source>所有支持的文件 (%1)</source>
        <translation>All supported files (%1)</translation>
    </message>
</context>
<context>
    <name>quelvox::ui::CFileList</name>
    <message>
        <source>文件</source>
        <translation>File</translation>
    </message>
    <message>
        <source>持续时间</source>
        <translation>Duration</translation>
    </message>
    <message>
        <source>比特率</source>
        <translation>Bitrate</translation>
    </message>
    <message>
        <source>采样率</source>
        <translation>Sample Rate</translation>
    </message>
    <message>
        <source>声道</source>
        <translation>Channels</translation>
    </message>
    <message>
        <source>音量</source>
        <translation>Volume</translation>
    </message>
    <message>
        <source>输出</source>
        <translation>Output</translation>
    </message>
    <message>
        <source>%1 (来源不完整)</source>
        <translation>%1 (source incomplete)</translation>
    </message>
    <message>
        <source>来源只含 %1 的音频, 其文件头声明为 %2.</source>
        <translation>The source holds only %1 of audio; its header claims %2.</translation>
    </message>
</context>
<context>
    <name>quelvox::ui::CHelpWindow</name>
    <message>
        <source>Quelvox Help</source>
        <translation>Quelvox Help</translation>
    </message>
    <message>
        <source>找不到帮助文件.</source>
        <translation>The help file could not be found.</translation>
    </message>
    <message>
        <source>index.html</source>
        <comment>file name of the manual in this language</comment>
        <translation>index.en.html</translation>
    </message>
</context>
<context>
    <name>quelvox::ui::CMainWindow</name>
    <message>
        <source>Quelvox</source>
        <translation>Quelvox</translation>
    </message>
    <message>
        <source>添加文件(&amp;A)</source>
        <translation>&amp;Add Files</translation>
    </message>
    <message>
        <source>添加文件</source>
        <translation>Add files</translation>
    </message>
    <message>
        <source>添加文件夹(&amp;F)</source>
        <translation>Add &amp;Folder</translation>
    </message>
    <message>
        <source>添加文件夹里的文件</source>
        <translation>Add the files of a folder</translation>
    </message>
    <message>
        <source>全部移除(&amp;R)</source>
        <translation>&amp;Remove All</translation>
    </message>
    <message>
        <source>移除列表中的所有文件</source>
        <translation>Remove all files from the list</translation>
    </message>
    <message>
        <source>转换(&amp;C)</source>
        <translation>&amp;Convert</translation>
    </message>
    <message>
        <source>转换所有文件</source>
        <translation>Convert all files</translation>
    </message>
    <message>
        <source>转换为一个(&amp;N)</source>
        <translation>Convert to O&amp;ne</translation>
    </message>
    <message>
        <source>转换所有文件为一个文件</source>
        <translation>Convert all files into one file</translation>
    </message>
    <message>
        <source>选项(&amp;O)</source>
        <translation>&amp;Options</translation>
    </message>
    <message>
        <source>选项</source>
        <translation>Options</translation>
    </message>
    <message>
        <source>帮助</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>最小化</source>
        <translation>Minimise</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>访问 %1 主页</source>
        <translation>Visit the %1 home page</translation>
    </message>
    <message>
        <source>输出格式</source>
        <translation>Output format</translation>
    </message>
    <message>
        <source>播放来源(&amp;P)</source>
        <translation>&amp;Play Source</translation>
    </message>
    <message>
        <source>播放目标(&amp;D)</source>
        <translation>Play &amp;Output</translation>
    </message>
    <message>
        <source>转换所选(&amp;C)</source>
        <translation>&amp;Convert Selected</translation>
    </message>
    <message>
        <source>全部转换</source>
        <translation>Convert All</translation>
    </message>
    <message>
        <source>转换选定为一个(&amp;C)</source>
        <translation>Convert Selected to O&amp;ne</translation>
    </message>
    <message>
        <source>转换全部为一个</source>
        <translation>Convert All to One</translation>
    </message>
    <message>
        <source>浏览原始文件夹(&amp;S)</source>
        <translation>Browse &amp;Source Folder</translation>
    </message>
    <message>
        <source>浏览目标文件夹(&amp;F)</source>
        <translation>Browse Output &amp;Folder</translation>
    </message>
    <message>
        <source>添加文件(&amp;A)...	Ctrl+O</source>
        <translation>&amp;Add Files...	Ctrl+O</translation>
    </message>
    <message>
        <source>添加文件夹(&amp;O)</source>
        <translation>Add F&amp;older</translation>
    </message>
    <message>
        <source>移除(&amp;R)	Del</source>
        <translation>&amp;Remove	Del</translation>
    </message>
    <message>
        <source>全部移除(&amp;L)</source>
        <translation>Remove A&amp;ll</translation>
    </message>
    <message>
        <source>帮助技巧(&amp;H)	F1</source>
        <translation>&amp;Help Topics	F1</translation>
    </message>
    <message>
        <source>告诉朋友(&amp;T)</source>
        <translation>&amp;Tell a Friend</translation>
    </message>
    <message>
        <source>反馈和支持(&amp;F)</source>
        <translation>&amp;Feedback and Support</translation>
    </message>
    <message>
        <source>主页(&amp;P)</source>
        <translation>Home &amp;Page</translation>
    </message>
    <message>
        <source>检查最新版本(&amp;C)</source>
        <translation>&amp;Check for Updates</translation>
    </message>
    <message>
        <source>关于(&amp;A)...</source>
        <translation>&amp;About...</translation>
    </message>
    <message>
        <source> 到 %1</source>
        <translation> to %1</translation>
    </message>
    <message>
        <source> 到 VIDEO (3GP, AVI, FLV, MOV, MP4, MPEG, WMV 等.)</source>
        <translation> to VIDEO (3GP, AVI, FLV, MOV, MP4, MPEG, WMV etc.)</translation>
    </message>
    <message>
        <source>%1 只转换音频文件.
要转换视频文件, 请使用我们的视频转换程序.

按 &quot;确定&quot; 打开它的主页.</source>
        <translation>%1 converts audio files only.
To convert video files, please use our video converter.

Press &quot;OK&quot; to open its home page.</translation>
    </message>
    <message>
        <source>&quot;%1&quot; 是列表中的一个源文件, 不能作为合并后的输出文件.
请选择其他文件名.</source>
        <translation>&quot;%1&quot; is one of the source files in the list and cannot be the merged output file.
Please choose another file name.</translation>
    </message>
    <message>
        <source>搜索文件...</source>
        <translation>Searching for files...</translation>
    </message>
    <message>
        <source>您至少需要选择一个文件.</source>
        <translation>You need to select at least one file.</translation>
    </message>
    <message>
        <source>列表中没有文件.</source>
        <translation>There are no files in the list.</translation>
    </message>
    <message numerus="yes">
        <source>添加已停止: 已添加 %n 个文件.</source>
        <translation>
            <numerusform>Adding stopped: %n file was added.</numerusform>
            <numerusform>Adding stopped: %n files were added.</numerusform>
        </translation>
    </message>
    <message>
        <source>无法保存设置: 不能写入 &quot;%1&quot;.
在本次运行中设置仍然有效.</source>
        <translation>The settings could not be saved: &quot;%1&quot; cannot be written.
They stay in use until Quelvox is closed.</translation>
    </message>
    <message>
        <source>%1% — Quelvox</source>
        <translation>%1% — Quelvox</translation>
    </message>
    <message numerus="yes">
        <source>Quelvox — %1 个文件</source>
        <translation>
            <numerusform>Quelvox — %1 file</numerusform>
            <numerusform>Quelvox — %1 files</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>转换完成: %1 个文件</source>
        <translation>
            <numerusform>Conversion finished: %1 file</numerusform>
            <numerusform>Conversion finished: %1 files</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>, %1 个失败</source>
        <translation>
            <numerusform>, %1 failed</numerusform>
            <numerusform>, %1 failed</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>quelvox::ui::COptPageGeneral</name>
    <message>
        <source>常规</source>
        <translation>General</translation>
    </message>
    <message>
        <source>对&quot;添加文件夹&quot;和拖/放仅添加以下文件扩展名(&amp;O)</source>
        <translation>For &quot;Add Folder&quot; and drag and drop, add &amp;only these extensions</translation>
    </message>
    <message>
        <source>注意: 使用逗号 (,) 分隔多个扩展名. 例如: wav,mp3,m4a,aac</source>
        <translation>Note: separate extensions with commas (,). Example: wav,mp3,m4a,aac</translation>
    </message>
    <message>
        <source>不加载隐藏文件(&amp;D)</source>
        <translation>&amp;Do not load hidden files</translation>
    </message>
    <message>
        <source>使用 DTS 到解码 CDA 文件(&amp;U)</source>
        <translation>&amp;Use DTS to decode CDA files</translation>
    </message>
    <message>
        <source>当转换双通道为单通道时, 输出声道等于:</source>
        <translation>When converting stereo to mono, the output channel is:</translation>
    </message>
    <message>
        <source>?</source>
        <translation>?</translation>
    </message>
    <message>
        <source>(L+R)/双声道(默认)(&amp;2)</source>
        <translation>(L+R)/&amp;2 (default)</translation>
    </message>
    <message>
        <source>左声道(&amp;L)</source>
        <translation>&amp;Left channel</translation>
    </message>
    <message>
        <source>右声道(&amp;R)</source>
        <translation>&amp;Right channel</translation>
    </message>
    <message>
        <source>先跳过(&amp;S)</source>
        <translation>&amp;Skip first</translation>
    </message>
    <message>
        <source>仅转换(&amp;C)</source>
        <translation>&amp;Convert only</translation>
    </message>
    <message>
        <source>毫秒(每个文件) (1 秒 = 1000 毫秒)</source>
        <translation>ms of each file (1 s = 1000 ms)</translation>
    </message>
    <message>
        <source>毫秒长度(每个文件) (1 秒 = 1000 毫秒)</source>
        <translation>ms of length of each file (1 s = 1000 ms)</translation>
    </message>
    <message>
        <source>重采样器:</source>
        <translation>Resampler:</translation>
    </message>
    <message>
        <source>SoX 高质量 (默认)</source>
        <translation>SoX high quality (default)</translation>
    </message>
    <message>
        <source>libresample (兼容)</source>
        <translation>libresample (compatible)</translation>
    </message>
    <message>
        <source>降低位深度时抖动</source>
        <translation>Dither to fewer bits</translation>
    </message>
    <message>
        <source>同时转换的文件数:</source>
        <translation>Files converted at once:</translation>
    </message>
    <message>
        <source>音量</source>
        <translation>Volume</translation>
    </message>
    <message>
        <source>自动标准化音量以便所有输出文件具有相同音量(&amp;N)</source>
        <translation>Auto-&amp;normalise so that all output files have the same volume</translation>
    </message>
    <message>
        <source>手动调整音量(&amp;A)</source>
        <translation>&amp;Adjust the volume manually</translation>
    </message>
    <message>
        <source>保持原有音量 (不调整音量)(&amp;K)</source>
        <translation>&amp;Keep the original volume (no adjustment)</translation>
    </message>
    <message>
        <source>%</source>
        <translation>%</translation>
    </message>
    <message>
        <source>&lt; 100% - 减小音量
= 100% - 不改变
&gt; 100% - 提高音量</source>
        <translation>&lt; 100% - quieter
= 100% - unchanged
&gt; 100% - louder</translation>
    </message>
    <message>
        <source>In general, the output sound equals to &quot;(L+R)/2,&quot; which contains left and right channels.

&quot;L channel&quot; means the program outputs left channel of original stereo file. And &quot;R channel&quot; means right channel. It&apos;s very useful when you want to convert a stereo file into two files that contains left and right channels distinguishingly.</source>
        <translation>In general, the output sound equals to &quot;(L+R)/2,&quot; which contains left and right channels.

&quot;L channel&quot; means the program outputs left channel of original stereo file. And &quot;R channel&quot; means right channel. It&apos;s very useful when you want to convert a stereo file into two files that contains left and right channels distinguishingly.</translation>
    </message>
    <message>
        <source>请输入您需要过滤的文件扩展名.</source>
        <translation>Please enter the file extensions to filter by.</translation>
    </message>
    <message>
        <source>转换的长度必须大于 0 毫秒.</source>
        <translation>The length to convert must be greater than 0 ms.</translation>
    </message>
    <message>
        <source>语言(&amp;G):</source>
        <translation>Lan&amp;guage:</translation>
    </message>
    <message>
        <source>系统语言</source>
        <translation>The system&apos;s language</translation>
    </message>
    <message>
        <source>(下次启动时生效)</source>
        <translation>(takes effect at the next start)</translation>
    </message>
    <message>
        <source>统一响度 (EBU R128)</source>
        <translation>Same loudness for every file (EBU R128)</translation>
    </message>
    <message>
        <source>目标响度:</source>
        <translation>Target loudness:</translation>
    </message>
    <message>
        <source>LUFS</source>
        <translation>LUFS</translation>
    </message>
    <message>
        <source>真峰值上限:</source>
        <translation>True peak ceiling:</translation>
    </message>
    <message>
        <source>dBTP</source>
        <translation>dBTP</translation>
    </message>
    <message>
        <source>超过峰值上限时限幅</source>
        <translation>Limit peaks above the ceiling</translation>
    </message>
    <message>
        <source>所有文件作为一张专辑</source>
        <translation>All files as one album</translation>
    </message>
    <message>
        <source>写入 ReplayGain 标签</source>
        <translation>Write ReplayGain tags</translation>
    </message>
</context>
<context>
    <name>quelvox::ui::COptPageOutput</name>
    <message>
        <source>输出</source>
        <translation>Output</translation>
    </message>
    <message>
        <source>与源文件相同</source>
        <translation>Same as the source file</translation>
    </message>
    <message>
        <source>指定文件夹</source>
        <translation>Specified folder</translation>
    </message>
    <message>
        <source>输出文件夹(&amp;O):</source>
        <translation>&amp;Output folder:</translation>
    </message>
    <message>
        <source>指定文件夹(&amp;S):</source>
        <translation>&amp;Specified folder:</translation>
    </message>
    <message>
        <source>浏览(&amp;B)</source>
        <translation>&amp;Browse</translation>
    </message>
    <message>
        <source>打开(&amp;P)</source>
        <translation>O&amp;pen</translation>
    </message>
    <message>
        <source>保留原始目录树(&amp;K)</source>
        <translation>&amp;Keep the original folder tree</translation>
    </message>
    <message>
        <source>自动重命名 (在文件名末端添加数字)</source>
        <translation>Rename automatically (add a number to the name)</translation>
    </message>
    <message>
        <source>覆盖</source>
        <translation>Overwrite</translation>
    </message>
    <message>
        <source>跳过 (不转换)</source>
        <translation>Skip (do not convert)</translation>
    </message>
    <message>
        <source>如果目标文件存在(&amp;I)</source>
        <translation>&amp;If the target file exists</translation>
    </message>
    <message>
        <source>如果创建文件失败,输出文件到 &quot;My Documents&quot;(&amp;U)</source>
        <translation>If a file cannot be created, o&amp;utput it to &quot;My Documents&quot;</translation>
    </message>
    <message>
        <source>转换完成后浏览输出文件夹(&amp;W)</source>
        <translation>Sho&amp;w the output folder after converting</translation>
    </message>
    <message>
        <source>请选择输出文件夹:</source>
        <translation>Please choose the output folder:</translation>
    </message>
    <message>
        <source>该文件夹 &quot;%1&quot; 尚不存在.

注意: 转换文件时程序将自动创建文件夹.</source>
        <translation>The folder &quot;%1&quot; does not exist yet.

Note: the program creates the folder when it converts files.</translation>
    </message>
    <message>
        <source>请选择一个输出文件夹.</source>
        <translation>Please choose an output folder.</translation>
    </message>
    <message>
        <source>从添加的文件夹开始</source>
        <translation>From the added folder</translation>
    </message>
    <message>
        <source>完整路径</source>
        <translation>Whole path</translation>
    </message>
    <message>
        <source>例如: 添加了文件夹 &quot;/home/user/Music&quot;, 源文件为 &quot;/home/user/Music/pop/track01.mp3&quot;, 输出文件夹为 &quot;/media/Output&quot;. 如选中该选项, 从添加的文件夹开始则输出到 &quot;/media/Output/Music/pop/&quot;, 完整路径则输出到 &quot;/media/Output/home/user/Music/pop/&quot;。</source>
        <translation>Example: the folder &quot;/home/user/Music&quot; was added, the source file is &quot;/home/user/Music/pop/track01.mp3&quot; and the output folder is &quot;/media/Output&quot;. With this option, the output goes to &quot;/media/Output/Music/pop/&quot; from the added folder, or to &quot;/media/Output/home/user/Music/pop/&quot; with the whole path.</translation>
    </message>
</context>
<context>
    <name>quelvox::ui::COptSheet</name>
    <message>
        <source>选项</source>
        <translation>Options</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>quelvox::ui::COptPageAudio</name>
    <message>
        <source>%1 Hz</source>
        <translation>%1 Hz</translation>
    </message>
    <message>
        <source>%1 bit</source>
        <translation>%1 bit</translation>
    </message>
    <message>
        <source>%1 kbps</source>
        <translation>%1 kbps</translation>
    </message>
    <message>
        <source>编码选项</source>
        <translation>Encoding Options</translation>
    </message>
    <message>
        <source>编码器(&amp;C):</source>
        <translation>&amp;Codec:</translation>
    </message>
    <message>
        <source>自动 (程序将选择最佳方案)(&amp;U)</source>
        <translation>A&amp;uto (the program picks the best settings)</translation>
    </message>
    <message>
        <source>采样率(&amp;R):</source>
        <translation>Sample &amp;rate:</translation>
    </message>
    <message>
        <source>比特率(&amp;B):</source>
        <translation>&amp;Bit rate:</translation>
    </message>
    <message>
        <source>声道:</source>
        <translation>Channels:</translation>
    </message>
    <message>
        <source>自动 (程序将自动选择最佳采样率)</source>
        <translation>Auto (best sample rate)</translation>
    </message>
    <message>
        <source>自动 (程序将自动选择最佳比特率)</source>
        <translation>Auto (best bit rate)</translation>
    </message>
    <message>
        <source>立体声</source>
        <translation>Stereo</translation>
    </message>
    <message>
        <source>单声</source>
        <translation>Mono</translation>
    </message>
    <message>
        <source>自动 (程序将选择最佳声道)</source>
        <translation>Auto (best channels)</translation>
    </message>
    <message>
        <source>5.1 环绕声</source>
        <translation>5.1 surround</translation>
    </message>
    <message>
        <source>7.1 环绕声</source>
        <translation>7.1 surround</translation>
    </message>
</context>
<context>
    <name>quelvox::ui::COptPageId3</name>
    <message>
        <source>ID3</source>
        <translation>ID3</translation>
    </message>
    <message>
        <source>ID3 标签</source>
        <translation>ID3 Tags</translation>
    </message>
    <message>
        <source>添加自定义ID3 标签(&amp;A)</source>
        <translation>&amp;Add custom ID3 tags</translation>
    </message>
    <message>
        <source>从原始文件传输 ID3 标签(&amp;T)</source>
        <translation>&amp;Transfer the ID3 tags of the source file</translation>
    </message>
    <message>
        <source>无(&amp;N)</source>
        <translation>&amp;None</translation>
    </message>
    <message>
        <source>轨道 #:</source>
        <translation>Track #:</translation>
    </message>
    <message>
        <source>无(&amp;O)</source>
        <translation>N&amp;one</translation>
    </message>
    <message>
        <source>列表中序号(&amp;S)</source>
        <translation>Po&amp;sition in list</translation>
    </message>
    <message>
        <source>定制(&amp;U)</source>
        <translation>C&amp;ustom</translation>
    </message>
    <message>
        <source>以文件名命名 (不包括扩展名)(&amp;M)</source>
        <translation>Use the file na&amp;me (without extension)</translation>
    </message>
    <message>
        <source>旧式标签的代码页(&amp;E):</source>
        <translation>Cod&amp;e page of legacy tags:</translation>
    </message>
    <message>
        <source>自动</source>
        <translation>Automatic</translation>
    </message>
    <message>
        <source>GB18030 (简体中文)</source>
        <translation>GB18030 (Simplified Chinese)</translation>
    </message>
    <message>
        <source>BIG5 (繁体中文)</source>
        <translation>BIG5 (Traditional Chinese)</translation>
    </message>
    <message>
        <source>CP932 (日文)</source>
        <translation>CP932 (Japanese)</translation>
    </message>
    <message>
        <source>CP949 (韩文)</source>
        <translation>CP949 (Korean)</translation>
    </message>
    <message>
        <source>WINDOWS-1250 (中欧)</source>
        <translation>WINDOWS-1250 (Central European)</translation>
    </message>
    <message>
        <source>WINDOWS-1251 (西里尔文)</source>
        <translation>WINDOWS-1251 (Cyrillic)</translation>
    </message>
    <message>
        <source>WINDOWS-1252 (西欧)</source>
        <translation>WINDOWS-1252 (Western European)</translation>
    </message>
    <message>
        <source>WINDOWS-1253 (希腊文)</source>
        <translation>WINDOWS-1253 (Greek)</translation>
    </message>
    <message>
        <source>WINDOWS-1254 (土耳其文)</source>
        <translation>WINDOWS-1254 (Turkish)</translation>
    </message>
    <message>
        <source>标题(&amp;I):</source>
        <translation>T&amp;itle:</translation>
    </message>
    <message>
        <source>艺术家(&amp;R):</source>
        <translation>A&amp;rtist:</translation>
    </message>
    <message>
        <source>专辑(&amp;L):</source>
        <translation>A&amp;lbum:</translation>
    </message>
    <message>
        <source>年份(&amp;Y):</source>
        <translation>&amp;Year:</translation>
    </message>
    <message>
        <source>流派(&amp;G):</source>
        <translation>&amp;Genre:</translation>
    </message>
    <message>
        <source>注释(&amp;C):</source>
        <translation>&amp;Comment:</translation>
    </message>
    <message>
        <source>作曲(&amp;P):</source>
        <translation>Com&amp;poser:</translation>
    </message>
    <message>
        <source>版权(&amp;H):</source>
        <translation>Copyrig&amp;ht:</translation>
    </message>
    <message>
        <source>专辑艺术家(&amp;B):</source>
        <translation>Al&amp;bum artist:</translation>
    </message>
    <message>
        <source>碟片(&amp;D):</source>
        <translation>&amp;Disc:</translation>
    </message>
</context>
<context>
    <name>quelvox::ui::COptPageWma</name>
    <message>
        <source>%1 Hz, %2 kbps, %3</source>
        <translation>%1 Hz, %2 kbps, %3</translation>
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
        <source>WMA/WMV/ASF</source>
        <translation>WMA/WMV/ASF</translation>
    </message>
    <message>
        <source>编码选项</source>
        <translation>Encoding Options</translation>
    </message>
    <message>
        <source>编码选项: (采样率, 比特率, 声道)(&amp;E)</source>
        <translation>&amp;Encoding options: (sample rate, bit rate, channels)</translation>
    </message>
    <message>
        <source>自动 (程序将自动选择最佳方案)</source>
        <translation>Auto (the program picks the best settings)</translation>
    </message>
</context>
<context>
    <name>quelvox::ui::CProgressWindow</name>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
</TS>
