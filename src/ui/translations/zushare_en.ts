<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>AdmitMemberDialog</name>
    <message>
        <source>有人想观看</source>
        <translation>Someone wants to watch</translation>
    </message>
    <message>
        <source>%1
%2 · %3
想观看你的共享，是否允许？</source>
        <translation>%1
%2 · %3
wants to watch your share. Allow?</translation>
    </message>
    <message>
        <source>拒绝</source>
        <translation>Refuse</translation>
    </message>
    <message>
        <source>全部允许</source>
        <translation>Allow all</translation>
    </message>
    <message>
        <source>允许</source>
        <translation>Allow</translation>
    </message>
    <message>
        <source>另有 %1 人在等待</source>
        <translation>%1 more waiting</translation>
    </message>
    <message>
        <source>手机</source>
        <translation>Phone</translation>
    </message>
    <message>
        <source>浏览器</source>
        <translation>Browser</translation>
    </message>
    <message>
        <source>电脑</source>
        <translation>Computer</translation>
    </message>
</context>
<context>
    <name>AttendeeRtcManager</name>
    <message>
        <source>传输中断</source>
        <translation>Transfer interrupted</translation>
    </message>
</context>
<context>
    <name>ChoiceDialog</name>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>CreateShareButton</name>
    <message>
        <source>创建分享</source>
        <translation>New share</translation>
    </message>
    <message>
        <source>创建共享</source>
        <translation>Share this computer&apos;s screen</translation>
    </message>
</context>
<context>
    <name>DialogChrome</name>
    <message>
        <source>退出将中断文件传输，是否退出？</source>
        <translation>Closing stops the file transfer. Close anyway?</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>FileProgressDialog</name>
    <message>
        <source>已完成</source>
        <translation>Done</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>FileTransferor</name>
    <message>
        <source>文件名过长</source>
        <translation>File name too long</translation>
    </message>
    <message>
        <source>不支持发送文件夹！</source>
        <translation>Folders cannot be sent!</translation>
    </message>
    <message>
        <source>文件过大,暂不支持！</source>
        <translation>File too large, not supported!</translation>
    </message>
    <message>
        <source>打开文件失败！</source>
        <translation>Could not open the file!</translation>
    </message>
    <message>
        <source>文件传输过程出错</source>
        <translation>File transfer failed</translation>
    </message>
    <message>
        <source>文件传输中断</source>
        <translation>File transfer interrupted</translation>
    </message>
    <message>
        <source>保存文件失败！</source>
        <translation>Could not save the file!</translation>
    </message>
    <message>
        <source>磁盘空间不足，保存文件失败！</source>
        <translation>Not enough disk space to save the file!</translation>
    </message>
</context>
<context>
    <name>InputIpDialog</name>
    <message>
        <source>手动输入</source>
        <translation>Enter address</translation>
    </message>
    <message>
        <source>连接IP:</source>
        <translation>Host IP:</translation>
    </message>
    <message>
        <source>加入分享</source>
        <translation>Join share</translation>
    </message>
</context>
<context>
    <name>LoadingDialog</name>
    <message>
        <source>努力加载中...</source>
        <translation>Loading...</translation>
    </message>
</context>
<context>
    <name>MainWidget</name>
    <message>
        <source>昵称:</source>
        <translation>Nickname:</translation>
    </message>
    <message>
        <source>设备列表</source>
        <translation>Shares found</translation>
    </message>
    <message>
        <source>手动输入</source>
        <translation>Enter address</translation>
    </message>
    <message>
        <source>刷新</source>
        <translation>Refresh</translation>
    </message>
    <message>
        <source>当前局域网内没有找到共享</source>
        <translation>No share found on this network</translation>
    </message>
    <message>
        <source>昵称能为空!</source>
        <translation>The nickname cannot be empty!</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>创建共享失败，请检查5678端口！</source>
        <translation>Could not start the share. Check that port 5678 is free!</translation>
    </message>
    <message>
        <source>加入共享失败，请 输入/选择 正确的ip地址，或检查您的网络环境！</source>
        <translation>Could not join the share. Enter or pick the right IP address, or check your network!</translation>
    </message>
    <message>
        <source>主持人没有允许你观看这个共享。</source>
        <translation>The host did not let you watch this share.</translation>
    </message>
    <message>
        <source>共享已结束：系统停止了屏幕共享</source>
        <translation>The share has ended: the system stopped the screen sharing</translation>
    </message>
</context>
<context>
    <name>MemberItemWidget</name>
    <message>
        <source>等待中</source>
        <translation>Waiting</translation>
    </message>
</context>
<context>
    <name>MemberListWidget</name>
    <message>
        <source>当前成员(1)</source>
        <translation>Members (1)</translation>
    </message>
    <message>
        <source>刷新</source>
        <translation>Refresh</translation>
    </message>
    <message>
        <source>快去分享给其他人吧~</source>
        <translation>Invite others to watch!</translation>
    </message>
    <message>
        <source>主持人 (我)</source>
        <translation>Host (me)</translation>
    </message>
    <message>
        <source>主持人</source>
        <translation>Host</translation>
    </message>
    <message>
        <source>%1 (我)</source>
        <translation>%1 (me)</translation>
    </message>
    <message>
        <source>当前成员 (%1)</source>
        <translation>Members (%1)</translation>
    </message>
    <message>
        <source>允许观看</source>
        <translation>Allow to watch</translation>
    </message>
    <message>
        <source>传输文件</source>
        <translation>Send file</translation>
    </message>
    <message>
        <source>取消共享</source>
        <translation>Remove from share</translation>
    </message>
</context>
<context>
    <name>MessageDialog</name>
    <message>
        <source>警告</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>确认</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>MobilePhoneScreenWidget</name>
    <message>
        <source>%1 投屏中</source>
        <translation>%1 is projecting</translation>
    </message>
</context>
<context>
    <name>MobilePhoneToolWidget</name>
    <message>
        <source>全屏</source>
        <translation>Full screen</translation>
    </message>
    <message>
        <source>放大</source>
        <translation>Zoom in</translation>
    </message>
    <message>
        <source>缩小</source>
        <translation>Zoom out</translation>
    </message>
    <message>
        <source>退出全屏</source>
        <translation>Exit full screen</translation>
    </message>
</context>
<context>
    <name>MultiTransFileProgressDialog</name>
    <message>
        <source>批量传输</source>
        <translation>Send to all</translation>
    </message>
    <message>
        <source>昵称</source>
        <translation>Nickname</translation>
    </message>
    <message>
        <source>传输进度</source>
        <translation>Progress</translation>
    </message>
</context>
<context>
    <name>OriginatorRtcManager</name>
    <message>
        <source>文件传输中断</source>
        <translation>File transfer interrupted</translation>
    </message>
</context>
<context>
    <name>QuitShareDialog</name>
    <message>
        <source>确认退出？退出将结束此次共享</source>
        <translation>Quit? Quitting ends this share</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Quit</translation>
    </message>
</context>
<context>
    <name>ReceiveFileDialog</name>
    <message>
        <source>主持人向你传输文件</source>
        <translation>The host is sending you a file</translation>
    </message>
</context>
<context>
    <name>RequestMessageDialog</name>
    <message>
        <source>确认</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>RequestShareScreenDialog</name>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>%1 请求投屏，是否同意？</source>
        <translation>%1 asks to project their screen. Agree?</translation>
    </message>
</context>
<context>
    <name>ScreenSources</name>
    <message>
        <source>屏幕 %1</source>
        <translation>Screen %1</translation>
    </message>
    <message>
        <source>窗口</source>
        <translation>Window</translation>
    </message>
</context>
<context>
    <name>SelectSourceDialog</name>
    <message>
        <source>创建一个分享</source>
        <translation>Create a share</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>共享</source>
        <translation>Share</translation>
    </message>
    <message>
        <source>刷新</source>
        <translation>Refresh</translation>
    </message>
    <message>
        <source>没有可共享的屏幕或窗口：桌面的屏幕共享未开始（已取消，或系统未提供屏幕共享门户），请点击右下角按钮重新选择</source>
        <translation>No screen or window to share: the desktop&apos;s screen sharing did not start (cancelled, or the system has no screen-sharing portal). Click the button at the bottom right to choose again</translation>
    </message>
    <message>
        <source>没有可共享的屏幕或窗口：未连接到图形显示（X11）</source>
        <translation>No screen or window to share: not connected to a graphical display (X11)</translation>
    </message>
    <message>
        <source>没有找到可共享的屏幕或窗口，请点击右下角按钮刷新</source>
        <translation>No screen or window found to share. Click the button at the bottom right to refresh</translation>
    </message>
</context>
<context>
    <name>SettingCheckBox</name>
    <message>
        <source>观看前先询问我</source>
        <translation>Ask before anyone watches</translation>
    </message>
    <message>
        <source>开启后，每位观众要经你允许才能看到屏幕和收到文件；
关闭时，局域网内找到此共享的任何人都能观看。</source>
        <translation>When on, each attendee needs your permission to see the screen and receive files;
when off, anyone on the network who finds this share can watch.</translation>
    </message>
    <message>
        <source>共享声音</source>
        <translation>Share sound</translation>
    </message>
    <message>
        <source>把电脑正在播放的声音一起共享给观众；共享中可随时开关。</source>
        <translation>Share the sound this computer plays with the attendees; you can switch it during a share.</translation>
    </message>
</context>
<context>
    <name>ShareWidget</name>
    <message>
        <source>屏幕共享中</source>
        <translation>Sharing the screen</translation>
    </message>
    <message>
        <source>手机或浏览器观看</source>
        <translation>Watch on a phone or browser</translation>
    </message>
    <message>
        <source>扫描二维码，或在浏览器中打开此地址</source>
        <translation>Scan the QR code, or open this address in a browser</translation>
    </message>
    <message>
        <source>批量传输</source>
        <translation>Send to all</translation>
    </message>
    <message>
        <source>切换共享</source>
        <translation>Switch</translation>
    </message>
    <message>
        <source>退出共享</source>
        <translation>Quit share</translation>
    </message>
    <message>
        <source>没有可共享的声音</source>
        <translation>No sound to share</translation>
    </message>
    <message>
        <source>这台电脑上没有声音服务在运行，观众只能看到画面。</source>
        <translation>No sound server runs on this computer: attendees only see the picture.</translation>
    </message>
    <message>
        <source>收起成员列表</source>
        <translation>Hide the member list</translation>
    </message>
    <message>
        <source>展开成员列表</source>
        <translation>Show the member list</translation>
    </message>
    <message>
        <source>请等待上一文件传输完成</source>
        <translation>Please wait until the last file transfer has finished</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>启动扫描服务时出错！
请检查网络环境;
否则您的共享将不能被局域网内其他设备所发现!</source>
        <translation>Could not start the discovery service!
Please check the network;
otherwise other devices on the network cannot find your share!</translation>
    </message>
    <message>
        <source>文件传输中断</source>
        <translation>File transfer interrupted</translation>
    </message>
</context>
<context>
    <name>SingleTransFileProgressDialog</name>
    <message>
        <source>发起文件传输</source>
        <translation>Sending a file</translation>
    </message>
</context>
<context>
    <name>SoundControl</name>
    <message>
        <source>音量</source>
        <translation>Volume</translation>
    </message>
    <message>
        <source>取消静音</source>
        <translation>Unmute</translation>
    </message>
    <message>
        <source>静音</source>
        <translation>Mute</translation>
    </message>
    <message>
        <source>听主持人共享的声音</source>
        <translation>Hear the sound the host shares</translation>
    </message>
    <message>
        <source>不听主持人共享的声音</source>
        <translation>Stop hearing the sound the host shares</translation>
    </message>
</context>
<context>
    <name>WatchToolWidget</name>
    <message>
        <source>收起成员列表</source>
        <translation>Hide the member list</translation>
    </message>
    <message>
        <source>展开成员列表</source>
        <translation>Show the member list</translation>
    </message>
    <message>
        <source>退出全屏</source>
        <translation>Exit full screen</translation>
    </message>
    <message>
        <source>全屏</source>
        <translation>Full screen</translation>
    </message>
</context>
<context>
    <name>WatchWidget</name>
    <message>
        <source>正在等待主持人允许你观看…</source>
        <translation>Waiting for the host to let you watch…</translation>
    </message>
    <message>
        <source>文件路径</source>
        <translation>Files</translation>
    </message>
    <message>
        <source>打开下载文件夹</source>
        <translation>Open the download folder</translation>
    </message>
    <message>
        <source>退出共享</source>
        <translation>Leave share</translation>
    </message>
</context>
<context>
    <name>ZuTitleWidget</name>
    <message>
        <source>最小化</source>
        <translation>Minimize</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>还原</source>
        <translation>Restore</translation>
    </message>
    <message>
        <source>最大化</source>
        <translation>Maximize</translation>
    </message>
</context>
<context>
    <name>transferprotocol</name>
    <message>
        <source>未命名文件</source>
        <translation>unnamed file</translation>
    </message>
</context>
<context>
    <name>uistyle</name>
    <message>
        <source>Zu屏幕共享</source>
        <translation>Zu Screen Share</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
</context>
</TS>
