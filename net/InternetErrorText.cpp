#include "net/InternetErrorText.h"

namespace {

struct ErrorText {
    long code;
    const char* text;
};

const ErrorText kTexts[] = {
    {12001, "Out of handles"},        {12002, "Timeout"},
    {12004, "Internal Error"},        {12005, "Invalid URL"},
    {12007, "Service Name Not Resolved"}, {12008, "Protocol Not Found"},
    {12013, "Incorrect User Name"},   {12014, "Incorrect Password"},
    {12015, "Login Failure"},         {12016, "Invalid Operation"},
    {12017, "Operation Canceled"},    {12020, "Not Proxy Request"},
    {12023, "No Direct Access"},      {12026, "Request Pending"},
    {12027, "Incorrect Format"},      {12028, "Item not found"},
    {12029, "Cannot connect"},        {12030, "Connection Aborted"},
    {12031, "Connection Reset"},      {12033, "Invalid Proxy Request"},
    {12034, "Need UI"},               {12035, "Sec Cert Date Invalid"},
    {12038, "Sec Cert CN Invalid"},   {12044, "Client Auth Cert Needed"},
    {12045, "Invalid CA Cert"},       {12046, "Client Auth Not Setup"},
    {12150, "HTTP Header Not Found"}, {12152, "Invalid HTTP Server Response"},
    {12153, "Invalid HTTP Header"},   {12154, "Invalid Query Request"},
    {12156, "Redirect Failed"},       {12159, "TCP/IP not installed"},
};

}  // namespace

const char* GetInternetErrorText(long code)
{
    for (const ErrorText& e : kTexts)
        if (e.code == code)
            return e.text;
    return "Error";
}

long CurlToInternetError(CURLcode code)
{
    switch (code) {
    case CURLE_OK: return 0;
    case CURLE_OPERATION_TIMEDOUT: return 12002;
    case CURLE_URL_MALFORMAT: return 12005;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return 12007;
    case CURLE_UNSUPPORTED_PROTOCOL: return 12008;
    case CURLE_LOGIN_DENIED: return 12015;
    case CURLE_COULDNT_CONNECT: return 12029;
    case CURLE_ABORTED_BY_CALLBACK:
    case CURLE_WRITE_ERROR: return 12030;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING: return 12031;
    case CURLE_WEIRD_SERVER_REPLY: return 12152;
    case CURLE_TOO_MANY_REDIRECTS: return 12156;
    case CURLE_OUT_OF_MEMORY: return 12001;
    default: return 12004;
    }
}
