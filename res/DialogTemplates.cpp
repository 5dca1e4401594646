// Dialog templates 129 (main window) and 130 (login window).
#include "framework/DialogTemplate.h"
#include "framework/Win32Types.h"
#include "res/resource.h"

namespace {

using K = ControlKind;

const DialogTemplate kMainDialog = {
    IDD_MAIN_DIALOG, "Quorvel加速场控", "宋体", 11, 396, 322,
    DLG_SYSMENU | DLG_MINIMIZEBOX | DLG_MODALFRAME,
    {
        {IDC_STATIC, K::GroupBox, "我的Quorvel", 8, 3, 95, 311, CTL_STRETCH_V},
        {IDC_REFRESH, K::Button, "Quorvel刷新", 13, 16, 84, 33, CTL_OWNERDRAW | CTL_TABSTOP},
        {IDC_MEETING_LIST, K::ListView, "", 13, 56, 84, 252, CTL_REPORT | CTL_BORDER | CTL_TABSTOP | CTL_STRETCH_V},
        {IDC_STATIC, K::GroupBox, "加速内容列表", 102, 3, 288, 311, CTL_STRETCH_V},
        {IDC_DISK_SPACE, K::Static, "", 109, 23, 63, 22, CTL_CENTER},
        // On the line of its value: both centred at y 34.
        {IDC_ELAPSED_LABEL, K::Static, "实际耗时:", 177, 30, 35, 8, 0},
        {IDC_ELAPSED, K::Static, "", 214, 23, 46, 22, CTL_CENTER},
        {IDC_WAITING, K::Static, ">>>>>>正在获取缓存列表请稍候>>>>>>", 109, 23, 151, 22, CTL_CENTER},
        {IDOK, K::Button, "开始缓存", 265, 16, 55, 33, CTL_OWNERDRAW | CTL_DISABLED | CTL_TABSTOP},
        {IDC_ACCELERATE, K::Button, "启动加速", 327, 16, 55, 33, CTL_OWNERDRAW | CTL_DISABLED | CTL_TABSTOP},
        {IDC_CONTENT_LIST, K::ListView, "", 109, 56, 273, 230, CTL_REPORT | CTL_BORDER | CTL_TABSTOP | CTL_STRETCH_V},
        {IDC_PROGRESS, K::ProgressBar, "", 109, 292, 273, 16, CTL_FOLLOW_BOTTOM},
        {IDCANCEL, K::Button, "开始加速", 332, 72, 50, 33, CTL_HIDDEN | CTL_TABSTOP},
    },
};

const DialogTemplate kLoginDialog = {
    IDD_LOGIN_DIALOG, "Quorvel加速场控登录", "宋体", 11, 161, 122,
    DLG_CENTER | DLG_SYSMENU | DLG_MODALFRAME,
    {
        {IDC_USERNAME, K::Edit, "", 69, 17, 71, 18, CTL_BORDER | CTL_AUTOHSCROLL | CTL_TABSTOP},
        {IDC_PASSWORD, K::Edit, "", 69, 46, 71, 18, CTL_BORDER | CTL_PASSWORD | CTL_AUTOHSCROLL | CTL_TABSTOP},
        {IDC_COMPANY, K::ComboBox, "", 64, 70, 71, 30,
         CTL_DROPDOWN | CTL_SORT | CTL_VSCROLL | CTL_HIDDEN | CTL_TABSTOP},
        {IDOK, K::Button, "登录", 23, 88, 119, 20, CTL_DEFAULT | CTL_TABSTOP},
        {IDCANCEL, K::Button, "退出", 115, 35, 39, 20, CTL_HIDDEN | CTL_TABSTOP},
        {IDC_STATIC, K::Static, "邮箱/手机号", 21, 23, 43, 8, 0},
        {IDC_STATIC, K::Static, "密码", 48, 51, 16, 8, 0},
        {IDC_STATIC, K::GroupBox, "", 7, 3, 148, 74, 0},
        {IDC_STATIC, K::Static, "所属公司:", 23, 71, 35, 8, CTL_HIDDEN},
    },
};

}  // namespace

const ControlTemplate* DialogTemplate::Find(int controlId) const
{
    for (const ControlTemplate& control : controls)
        if (control.id == controlId)
            return &control;
    return nullptr;
}

const DialogTemplate* FindDialogTemplate(int templateId)
{
    for (const DialogTemplate* t : {&kMainDialog, &kLoginDialog})
        if (t->id == templateId)
            return t;
    return nullptr;
}
