#include "demo/DemoServices.h"

#include <httplib.h>
#include <json/json.h>

#include "demo/DemoData.h"
#include "services/AccountApi.h"

namespace {

void Reply(httplib::Response& res, const Json::Value& value)
{
    Json::StreamWriterBuilder writer;
    writer["emitUTF8"] = true;
    writer["indentation"] = "";
    res.set_content(Json::writeString(writer, value), "application/json; charset=utf-8");
}

const DemoUser* FindUser(const std::string& userId)
{
    for (const DemoUser& user : DemoUsers())
        if (user.user_id == userId)
            return &user;
    return nullptr;
}

void CompanyLookup(const httplib::Request& req, httplib::Response& res)
{
    Json::Value companies(Json::arrayValue);
    if (const DemoUser* user = FindUser(req.get_param_value("username"))) {
        for (const DemoCompany& company : user->companies) {
            Json::Value entry;
            entry["comp_id"] = company.comp_id;
            entry["compname"] = company.compname;
            entry["role_id"] = company.role_id;
            companies.append(entry);
        }
    }
    Reply(res, companies);
}

bool Accepts(const DemoUser* user, const std::string& compId, const std::string& digest)
{
    if (!user || digest != PasswordDigest(user->password))
        return false;
    for (const DemoCompany& company : user->companies)
        if (company.comp_id == compId)
            return true;
    return false;
}

void Login(const httplib::Request& req, httplib::Response& res)
{
    bool accepted = Accepts(FindUser(req.get_param_value("user_id")),
                            req.get_param_value("comp_id"), req.get_param_value("password"));
    Json::Value answer;
    answer["result"] = accepted ? 0 : 1;
    answer["msg"] = accepted ? "登录成功" : "用户名或密码错误";
    Reply(res, answer);
}

void MeetingList(const httplib::Request& req, httplib::Response& res)
{
    Json::Value answer;
    if (!req.has_param("comp_id")) {
        answer["code"] = 1;
        answer["msg"] = "缺少comp_id";
        return Reply(res, answer);
    }
    answer["code"] = 0;
    answer["data"] = Json::Value(Json::arrayValue);
    for (const DemoMeeting& meeting : DemoMeetings()) {
        if (meeting.comp_id != req.get_param_value("comp_id"))
            continue;
        Json::Value entry;
        entry["meet_id"] = meeting.meet_id;
        entry["meet_name"] = meeting.meet_name;
        entry["status"] = meeting.status;
        answer["data"].append(entry);
    }
    Reply(res, answer);
}

Json::Value ResourceEntry(const std::string& host, const DemoMeeting& meeting,
                          const DemoResource& resource)
{
    Json::Value entry;
    entry["name"] = resource.name;
    entry["type"] = resource.type;
    entry["module"] = resource.module;
    entry["md5"] = "";
    entry["url"] = "http://" + host + "/files/" + meeting.meet_id + "/" + resource.file;
    // The real service sends sizes both ways; so does the demo.
    if (resource.size >= 1000000)
        entry["size"] = std::to_string(resource.size);
    else
        entry["size"] = static_cast<Json::Int64>(resource.size);
    return entry;
}

void ResourceList(const httplib::Request& req, httplib::Response& res)
{
    Json::Value answer;
    answer["code"] = "0";
    answer["data"] = Json::Value(Json::arrayValue);
    std::string host = req.get_header_value("Host");
    for (const DemoMeeting& meeting : DemoMeetings())
        if (meeting.meet_id == req.get_param_value("meet_id"))
            for (const DemoResource& resource : meeting.resources)
                answer["data"].append(ResourceEntry(host, meeting, resource));
    Reply(res, answer);
}

}  // namespace

void MountDemoServices(httplib::Server& server)
{
    server.Get("/orbapi/api/getwwwcompinfo", CompanyLookup);
    server.Get("/orbapi/api/login", Login);
    server.Get("/get_meet_list", MeetingList);
    server.Get("/resource/get_list", ResourceList);
}
