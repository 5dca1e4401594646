#include "demo/DemoData.h"

namespace {

const DemoCompany kExpo{"qv-1001", "Quorvel示范会展中心", "2"};
const DemoCompany kForum{"qv-1002", "东湖论坛会务公司", "3"};

}  // namespace

const std::vector<DemoUser>& DemoUsers()
{
    static const std::vector<DemoUser> users = {
        {kDemoUser, kDemoPassword, {kExpo, kForum}},
        {"13800138000", kDemoPassword, {kExpo}},
    };
    return users;
}

const std::vector<DemoMeeting>& DemoMeetings()
{
    static const std::vector<DemoMeeting> meetings = {
        {"qv-1001", "m-2001", "2026年度产品发布会", 1,
         {
             {"开场视频", "video", "开场", "%E5%BC%80%E5%9C%BA.mp4", 3500000},
             {"主题演讲", "doc", "主会场", "%E4%B8%BB%E9%A2%98%E6%BC%94%E8%AE%B2.pdf", 1048576},
             {"会场海报", "image", "", "poster.png", 262144},
             {"签到音乐", "audio", "", "%E7%AD%BE%E5%88%B0%20music.mp3", 900000},
             {"空白页", "doc", "", "blank.txt", 0},
         }},
        {"qv-1001", "m-2002", "华东区经销商大会", 0,
         {
             {"欢迎辞", "doc", "", "welcome.pdf", 300000},
             {"宣传片", "video", "分会场", "%E5%AE%A3%E4%BC%A0%E7%89%87.mp4", 12000000},
         }},
        {"qv-1001", "m-2003", "技术培训（已结束）", 2,
         {
             {"培训手册", "doc", "培训", "manual.pdf", 524288},
         }},
        {"qv-1001", "m-2004", "已删除的测试会议", 3, {}},
        {"qv-1002", "m-3001", "东湖论坛开幕式", 1,
         {
             {"论坛议程", "doc", "", "agenda.pdf", 120000},
         }},
        {"qv-1002", "m-3002", "圆桌讨论", 0, {}},
    };
    return meetings;
}
