#pragma once
// Our own declarations of the WebView2 COM interfaces this program uses, written from the public
// SDK's documentation of its ABI: interface ids and the complete method order of each interface
// (every slot is declared, used or not, because the order is the contract). Released WebView2
// interfaces never change afterwards; newer abilities come as new numbered interfaces
// (ICoreWebView2Settings3 ...). Only what the program calls or implements is here; the loader is
// found at run time. The Windows tests check every id and slot declared here against Microsoft's
// WebView2.h, so declare each method with one HB_WV2_METHOD at the start of its line and give
// each interface its IID_ constant.
#include <objidl.h>
#include <windows.h>

namespace hb::wv2 {

struct EventRegistrationToken {
  __int64 value;
};

enum COREWEBVIEW2_WEB_RESOURCE_CONTEXT : int { COREWEBVIEW2_WEB_RESOURCE_CONTEXT_ALL = 0 };
using COREWEBVIEW2_WEB_ERROR_STATUS = int;
// A navigation stopped on purpose: replaced by another, or cancelled at its start.
inline constexpr COREWEBVIEW2_WEB_ERROR_STATUS COREWEBVIEW2_WEB_ERROR_STATUS_OPERATION_CANCELED =
    14;
using COREWEBVIEW2_PROCESS_FAILED_KIND = int;

// {b96d755e-0319-4e92-a296-23436f46a1fc} ...: the interface ids, in the order declared below.
inline constexpr GUID IID_ICoreWebView2Environment = {
    0xb96d755e, 0x0319, 0x4e92, {0xa2, 0x96, 0x23, 0x43, 0x6f, 0x46, 0xa1, 0xfc}};
inline constexpr GUID IID_ICoreWebView2EnvironmentOptions = {
    0x2fde08a8, 0x1e9a, 0x4766, {0x8c, 0x05, 0x95, 0xa9, 0xce, 0xb9, 0xd1, 0xc5}};
inline constexpr GUID IID_ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler = {
    0x4e8a3389, 0xc9d8, 0x4bd2, {0xb6, 0xb5, 0x12, 0x4f, 0xee, 0x6c, 0xc1, 0x4d}};
inline constexpr GUID IID_ICoreWebView2CreateCoreWebView2ControllerCompletedHandler = {
    0x6c4819f3, 0xc9b7, 0x4260, {0x81, 0x27, 0xc9, 0xf5, 0xbd, 0xe7, 0xf6, 0x8c}};
inline constexpr GUID IID_ICoreWebView2Controller = {
    0x4d00c0d1, 0x9434, 0x4eb6, {0x80, 0x78, 0x86, 0x97, 0xa5, 0x60, 0x33, 0x4f}};
inline constexpr GUID IID_ICoreWebView2Controller2 = {
    0xc979903e, 0xd4ca, 0x4228, {0x92, 0xeb, 0x47, 0xee, 0x3f, 0xa9, 0x6e, 0xab}};
inline constexpr GUID IID_ICoreWebView2 = {
    0x76eceacb, 0x0462, 0x4d94, {0xac, 0x83, 0x42, 0x3a, 0x67, 0x93, 0x77, 0x5e}};
inline constexpr GUID IID_ICoreWebView2Settings = {
    0xe562e4f0, 0xd7fa, 0x43ac, {0x8d, 0x71, 0xc0, 0x51, 0x50, 0x49, 0x9f, 0x00}};
inline constexpr GUID IID_ICoreWebView2Settings2 = {
    0xee9a0f68, 0xf46c, 0x4e32, {0xac, 0x23, 0xef, 0x8c, 0xac, 0x22, 0x4d, 0x2a}};
inline constexpr GUID IID_ICoreWebView2Settings3 = {
    0xfdb5ab74, 0xaf33, 0x4854, {0x84, 0xf0, 0x0a, 0x63, 0x1d, 0xeb, 0x5e, 0xba}};
inline constexpr GUID IID_ICoreWebView2Settings4 = {
    0xcb56846c, 0x4168, 0x4d53, {0xb0, 0x4f, 0x03, 0xb6, 0xd6, 0x79, 0x6f, 0xf2}};
inline constexpr GUID IID_ICoreWebView2Settings5 = {
    0x183e7052, 0x1d03, 0x43a0, {0xab, 0x99, 0x98, 0xe0, 0x43, 0xb6, 0x6b, 0x39}};
inline constexpr GUID IID_ICoreWebView2Settings6 = {
    0x11cb3acd, 0x9bc8, 0x43b8, {0x83, 0xbf, 0xf4, 0x07, 0x53, 0x71, 0x4f, 0x87}};
inline constexpr GUID IID_ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler = {
    0xb99369f3, 0x9b11, 0x47b5, {0xbc, 0x6f, 0x8e, 0x78, 0x95, 0xfc, 0xea, 0x17}};
inline constexpr GUID IID_ICoreWebView2NavigationCompletedEventHandler = {
    0xd33a35bf, 0x1c49, 0x4f98, {0x93, 0xab, 0x00, 0x6e, 0x05, 0x33, 0xfe, 0x1c}};
inline constexpr GUID IID_ICoreWebView2NavigationCompletedEventArgs = {
    0x30d68b7d, 0x20d9, 0x4752, {0xa9, 0xca, 0xec, 0x84, 0x48, 0xfb, 0xb5, 0xc1}};
inline constexpr GUID IID_ICoreWebView2NavigationCompletedEventArgs2 = {
    0xfdf8b738, 0xee1e, 0x4db2, {0xa3, 0x29, 0x8d, 0x7d, 0x7b, 0x74, 0xd7, 0x92}};
inline constexpr GUID IID_ICoreWebView2WebMessageReceivedEventHandler = {
    0x57213f19, 0x00e6, 0x49fa, {0x8e, 0x07, 0x89, 0x8e, 0xa0, 0x1e, 0xcb, 0xd2}};
inline constexpr GUID IID_ICoreWebView2WebMessageReceivedEventArgs = {
    0x0f99a40c, 0xe962, 0x4207, {0x9e, 0x92, 0xe3, 0xd5, 0x42, 0xef, 0xf8, 0x49}};
inline constexpr GUID IID_ICoreWebView2WebResourceRequestedEventHandler = {
    0xab00b74c, 0x15f1, 0x4646, {0x80, 0xe8, 0xe7, 0x63, 0x41, 0xd2, 0x5d, 0x71}};
inline constexpr GUID IID_ICoreWebView2WebResourceRequestedEventArgs = {
    0x453e667f, 0x12c7, 0x49d4, {0xbe, 0x6d, 0xdd, 0xbe, 0x79, 0x56, 0xf5, 0x7a}};
inline constexpr GUID IID_ICoreWebView2WebResourceRequest = {
    0x97055cd4, 0x512c, 0x4264, {0x8b, 0x5f, 0xe3, 0xf4, 0x46, 0xce, 0xa6, 0xa5}};
inline constexpr GUID IID_ICoreWebView2HttpRequestHeaders = {
    0xe86cac0e, 0x5523, 0x465c, {0xb5, 0x36, 0x8f, 0xb9, 0xfc, 0x8c, 0x8c, 0x60}};
inline constexpr GUID IID_ICoreWebView2WebResourceResponse = {
    0xaafcc94f, 0xfa27, 0x48fd, {0x97, 0xdf, 0x83, 0x0e, 0xf7, 0x5a, 0xae, 0xc9}};
inline constexpr GUID IID_ICoreWebView2Deferral = {
    0xc10e7f7b, 0xb585, 0x46f0, {0xa6, 0x23, 0x8b, 0xef, 0xbf, 0x3e, 0x4e, 0xe0}};
inline constexpr GUID IID_ICoreWebView2ProcessFailedEventHandler = {
    0x79e0aea4, 0x990b, 0x42d9, {0xaa, 0x1d, 0x0f, 0xcc, 0x2e, 0x5b, 0xc7, 0xf1}};
inline constexpr GUID IID_ICoreWebView2ProcessFailedEventArgs = {
    0x8155a9a4, 0x1474, 0x4a86, {0x8c, 0xae, 0x15, 0x1b, 0x0f, 0xa6, 0xb8, 0xca}};

struct ICoreWebView2;
struct ICoreWebView2Controller;
struct ICoreWebView2Environment;
struct ICoreWebView2Settings;
struct ICoreWebView2WebResourceResponse;

#define HB_WV2_METHOD(name) virtual HRESULT STDMETHODCALLTYPE name

struct ICoreWebView2EnvironmentOptions : IUnknown {
  HB_WV2_METHOD(get_AdditionalBrowserArguments)(LPWSTR* value) = 0;
  HB_WV2_METHOD(put_AdditionalBrowserArguments)(LPCWSTR value) = 0;
  HB_WV2_METHOD(get_Language)(LPWSTR* value) = 0;
  HB_WV2_METHOD(put_Language)(LPCWSTR value) = 0;
  HB_WV2_METHOD(get_TargetCompatibleBrowserVersion)(LPWSTR* value) = 0;
  HB_WV2_METHOD(put_TargetCompatibleBrowserVersion)(LPCWSTR value) = 0;
  HB_WV2_METHOD(get_AllowSingleSignOnUsingOSPrimaryAccount)(BOOL* allow) = 0;
  HB_WV2_METHOD(put_AllowSingleSignOnUsingOSPrimaryAccount)(BOOL allow) = 0;
};

struct ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler : IUnknown {
  HB_WV2_METHOD(Invoke)(HRESULT errorCode, ICoreWebView2Environment* env) = 0;
};

struct ICoreWebView2CreateCoreWebView2ControllerCompletedHandler : IUnknown {
  HB_WV2_METHOD(Invoke)(HRESULT errorCode, ICoreWebView2Controller* controller) = 0;
};

struct ICoreWebView2Environment : IUnknown {
  HB_WV2_METHOD(CreateCoreWebView2Controller)
  (HWND parentWindow, ICoreWebView2CreateCoreWebView2ControllerCompletedHandler* handler) = 0;
  HB_WV2_METHOD(CreateWebResourceResponse)
  (IStream* content, int statusCode, LPCWSTR reasonPhrase, LPCWSTR headers,
   ICoreWebView2WebResourceResponse** response) = 0;
  HB_WV2_METHOD(get_BrowserVersionString)(LPWSTR* versionInfo) = 0;
  HB_WV2_METHOD(add_NewBrowserVersionAvailable)
  (IUnknown* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_NewBrowserVersionAvailable)(EventRegistrationToken token) = 0;
};

// The environment's later generations, up to the event that tells when its browser process has
// exited (re-creation waits for it).
inline constexpr GUID IID_ICoreWebView2Environment2 = {
    0x41f3632b, 0x5ef4, 0x404f, {0xad, 0x82, 0x2d, 0x60, 0x6c, 0x5a, 0x9a, 0x21}};
inline constexpr GUID IID_ICoreWebView2Environment3 = {
    0x80a22ae3, 0xbe7c, 0x4ce2, {0xaf, 0xe1, 0x5a, 0x50, 0x05, 0x6c, 0xde, 0xeb}};
inline constexpr GUID IID_ICoreWebView2Environment4 = {
    0x20944379, 0x6dcf, 0x41d6, {0xa0, 0xa0, 0xab, 0xc0, 0xfc, 0x50, 0xde, 0x0d}};
inline constexpr GUID IID_ICoreWebView2Environment5 = {
    0x319e423d, 0xe0d7, 0x4b8d, {0x92, 0x54, 0xae, 0x94, 0x75, 0xde, 0x9b, 0x17}};
inline constexpr GUID IID_ICoreWebView2BrowserProcessExitedEventHandler = {
    0xfa504257, 0xa216, 0x4911, {0xa8, 0x60, 0xfe, 0x88, 0x25, 0x71, 0x28, 0x61}};
inline constexpr GUID IID_ICoreWebView2BrowserProcessExitedEventArgs = {
    0x1f00663f, 0xaf8c, 0x4782, {0x9c, 0xdd, 0xdd, 0x01, 0xc5, 0x2e, 0x34, 0xcb}};
struct ICoreWebView2BrowserProcessExitedEventArgs : IUnknown {
  HB_WV2_METHOD(get_BrowserProcessExitKind)(int* browserProcessExitKind) = 0;
  HB_WV2_METHOD(get_BrowserProcessId)(UINT32* value) = 0;
};
struct ICoreWebView2BrowserProcessExitedEventHandler : IUnknown {
  HB_WV2_METHOD(Invoke)
  (ICoreWebView2Environment* sender, ICoreWebView2BrowserProcessExitedEventArgs* args) = 0;
};
// A newer runtime has been installed; the arguments carry nothing.
inline constexpr GUID IID_ICoreWebView2NewBrowserVersionAvailableEventHandler = {
    0xf9a2976e, 0xd34e, 0x44fc, {0xad, 0xee, 0x81, 0xb6, 0xb5, 0x7c, 0xa9, 0x14}};
struct ICoreWebView2NewBrowserVersionAvailableEventHandler : IUnknown {
  HB_WV2_METHOD(Invoke)(ICoreWebView2Environment* sender, IUnknown* args) = 0;
};
struct ICoreWebView2Environment2 : ICoreWebView2Environment {
  HB_WV2_METHOD(CreateWebResourceRequest)
  (LPCWSTR uri, LPCWSTR method, IStream* postData, LPCWSTR headers, IUnknown** value) = 0;
};
struct ICoreWebView2Environment3 : ICoreWebView2Environment2 {
  HB_WV2_METHOD(CreateCoreWebView2CompositionController)(HWND parentWindow, IUnknown* handler) = 0;
  HB_WV2_METHOD(CreateCoreWebView2PointerInfo)(IUnknown** value) = 0;
};
struct ICoreWebView2Environment4 : ICoreWebView2Environment3 {
  HB_WV2_METHOD(GetAutomationProviderForWindow)(HWND hwnd, IUnknown** value) = 0;
};
struct ICoreWebView2Environment5 : ICoreWebView2Environment4 {
  HB_WV2_METHOD(add_BrowserProcessExited)
  (ICoreWebView2BrowserProcessExitedEventHandler* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_BrowserProcessExited)(EventRegistrationToken token) = 0;
};

struct ICoreWebView2Controller : IUnknown {
  HB_WV2_METHOD(get_IsVisible)(BOOL* isVisible) = 0;
  HB_WV2_METHOD(put_IsVisible)(BOOL isVisible) = 0;
  HB_WV2_METHOD(get_Bounds)(RECT* bounds) = 0;
  HB_WV2_METHOD(put_Bounds)(RECT bounds) = 0;
  HB_WV2_METHOD(get_ZoomFactor)(double* zoomFactor) = 0;
  HB_WV2_METHOD(put_ZoomFactor)(double zoomFactor) = 0;
  HB_WV2_METHOD(add_ZoomFactorChanged)(IUnknown* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_ZoomFactorChanged)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(SetBoundsAndZoomFactor)(RECT bounds, double zoomFactor) = 0;
  HB_WV2_METHOD(MoveFocus)(int reason) = 0;
  HB_WV2_METHOD(add_MoveFocusRequested)(IUnknown* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_MoveFocusRequested)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(add_GotFocus)(IUnknown* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_GotFocus)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(add_LostFocus)(IUnknown* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_LostFocus)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(add_AcceleratorKeyPressed)(IUnknown* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_AcceleratorKeyPressed)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(get_ParentWindow)(HWND* parentWindow) = 0;
  HB_WV2_METHOD(put_ParentWindow)(HWND parentWindow) = 0;
  HB_WV2_METHOD(NotifyParentWindowPositionChanged)() = 0;
  HB_WV2_METHOD(Close)() = 0;
  HB_WV2_METHOD(get_CoreWebView2)(ICoreWebView2** coreWebView2) = 0;
};

// The colour the browser shows where the page has not painted yet, passed by value.
struct COREWEBVIEW2_COLOR {
  BYTE A;
  BYTE R;
  BYTE G;
  BYTE B;
};

struct ICoreWebView2Controller2 : ICoreWebView2Controller {
  HB_WV2_METHOD(get_DefaultBackgroundColor)(COREWEBVIEW2_COLOR* value) = 0;
  HB_WV2_METHOD(put_DefaultBackgroundColor)(COREWEBVIEW2_COLOR value) = 0;
};

struct ICoreWebView2Settings : IUnknown {
  HB_WV2_METHOD(get_IsScriptEnabled)(BOOL* v) = 0;
  HB_WV2_METHOD(put_IsScriptEnabled)(BOOL v) = 0;
  HB_WV2_METHOD(get_IsWebMessageEnabled)(BOOL* v) = 0;
  HB_WV2_METHOD(put_IsWebMessageEnabled)(BOOL v) = 0;
  HB_WV2_METHOD(get_AreDefaultScriptDialogsEnabled)(BOOL* v) = 0;
  HB_WV2_METHOD(put_AreDefaultScriptDialogsEnabled)(BOOL v) = 0;
  HB_WV2_METHOD(get_IsStatusBarEnabled)(BOOL* v) = 0;
  HB_WV2_METHOD(put_IsStatusBarEnabled)(BOOL v) = 0;
  HB_WV2_METHOD(get_AreDevToolsEnabled)(BOOL* v) = 0;
  HB_WV2_METHOD(put_AreDevToolsEnabled)(BOOL v) = 0;
  HB_WV2_METHOD(get_AreDefaultContextMenusEnabled)(BOOL* v) = 0;
  HB_WV2_METHOD(put_AreDefaultContextMenusEnabled)(BOOL v) = 0;
  HB_WV2_METHOD(get_AreHostObjectsAllowed)(BOOL* v) = 0;
  HB_WV2_METHOD(put_AreHostObjectsAllowed)(BOOL v) = 0;
  HB_WV2_METHOD(get_IsZoomControlEnabled)(BOOL* v) = 0;
  HB_WV2_METHOD(put_IsZoomControlEnabled)(BOOL v) = 0;
  HB_WV2_METHOD(get_IsBuiltInErrorPageEnabled)(BOOL* v) = 0;
  HB_WV2_METHOD(put_IsBuiltInErrorPageEnabled)(BOOL v) = 0;
};
struct ICoreWebView2Settings2 : ICoreWebView2Settings {
  HB_WV2_METHOD(get_UserAgent)(LPWSTR* v) = 0;
  HB_WV2_METHOD(put_UserAgent)(LPCWSTR v) = 0;
};
struct ICoreWebView2Settings3 : ICoreWebView2Settings2 {
  HB_WV2_METHOD(get_AreBrowserAcceleratorKeysEnabled)(BOOL* v) = 0;
  HB_WV2_METHOD(put_AreBrowserAcceleratorKeysEnabled)(BOOL v) = 0;
};
struct ICoreWebView2Settings4 : ICoreWebView2Settings3 {
  HB_WV2_METHOD(get_IsPasswordAutosaveEnabled)(BOOL* v) = 0;
  HB_WV2_METHOD(put_IsPasswordAutosaveEnabled)(BOOL v) = 0;
  HB_WV2_METHOD(get_IsGeneralAutofillEnabled)(BOOL* v) = 0;
  HB_WV2_METHOD(put_IsGeneralAutofillEnabled)(BOOL v) = 0;
};
struct ICoreWebView2Settings5 : ICoreWebView2Settings4 {
  HB_WV2_METHOD(get_IsPinchZoomEnabled)(BOOL* v) = 0;
  HB_WV2_METHOD(put_IsPinchZoomEnabled)(BOOL v) = 0;
};
struct ICoreWebView2Settings6 : ICoreWebView2Settings5 {
  HB_WV2_METHOD(get_IsSwipeNavigationEnabled)(BOOL* v) = 0;
  HB_WV2_METHOD(put_IsSwipeNavigationEnabled)(BOOL v) = 0;
};

struct ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler : IUnknown {
  HB_WV2_METHOD(Invoke)(HRESULT errorCode, LPCWSTR id) = 0;
};

struct ICoreWebView2NavigationCompletedEventArgs : IUnknown {
  HB_WV2_METHOD(get_IsSuccess)(BOOL* isSuccess) = 0;
  HB_WV2_METHOD(get_WebErrorStatus)(COREWEBVIEW2_WEB_ERROR_STATUS* status) = 0;
  HB_WV2_METHOD(get_NavigationId)(UINT64* navigationId) = 0;
};
struct ICoreWebView2NavigationCompletedEventArgs2 : ICoreWebView2NavigationCompletedEventArgs {
  HB_WV2_METHOD(get_HttpStatusCode)(int* httpStatusCode) = 0;
};
struct ICoreWebView2NavigationCompletedEventHandler : IUnknown {
  HB_WV2_METHOD(Invoke)(ICoreWebView2* sender, ICoreWebView2NavigationCompletedEventArgs* args) = 0;
};

struct ICoreWebView2WebMessageReceivedEventArgs : IUnknown {
  HB_WV2_METHOD(get_Source)(LPWSTR* source) = 0;
  HB_WV2_METHOD(get_WebMessageAsJson)(LPWSTR* webMessageAsJson) = 0;
  HB_WV2_METHOD(TryGetWebMessageAsString)(LPWSTR* webMessageAsString) = 0;
};
struct ICoreWebView2WebMessageReceivedEventHandler : IUnknown {
  HB_WV2_METHOD(Invoke)(ICoreWebView2* sender, ICoreWebView2WebMessageReceivedEventArgs* args) = 0;
};

struct ICoreWebView2HttpRequestHeaders : IUnknown {
  HB_WV2_METHOD(GetHeader)(LPCWSTR name, LPWSTR* value) = 0;
  HB_WV2_METHOD(GetHeaders)(LPCWSTR name, IUnknown** iterator) = 0;
  HB_WV2_METHOD(Contains)(LPCWSTR name, BOOL* contains) = 0;
  HB_WV2_METHOD(SetHeader)(LPCWSTR name, LPCWSTR value) = 0;
  HB_WV2_METHOD(RemoveHeader)(LPCWSTR name) = 0;
  HB_WV2_METHOD(GetIterator)(IUnknown** iterator) = 0;
};

struct ICoreWebView2WebResourceRequest : IUnknown {
  HB_WV2_METHOD(get_Uri)(LPWSTR* uri) = 0;
  HB_WV2_METHOD(put_Uri)(LPCWSTR uri) = 0;
  HB_WV2_METHOD(get_Method)(LPWSTR* method) = 0;
  HB_WV2_METHOD(put_Method)(LPCWSTR method) = 0;
  HB_WV2_METHOD(get_Content)(IStream** content) = 0;
  HB_WV2_METHOD(put_Content)(IStream* content) = 0;
  HB_WV2_METHOD(get_Headers)(ICoreWebView2HttpRequestHeaders** headers) = 0;
};

struct ICoreWebView2WebResourceResponse : IUnknown {
  HB_WV2_METHOD(get_Content)(IStream** content) = 0;
  HB_WV2_METHOD(put_Content)(IStream* content) = 0;
  HB_WV2_METHOD(get_Headers)(IUnknown** headers) = 0;
  HB_WV2_METHOD(get_StatusCode)(int* statusCode) = 0;
  HB_WV2_METHOD(put_StatusCode)(int statusCode) = 0;
  HB_WV2_METHOD(get_ReasonPhrase)(LPWSTR* reasonPhrase) = 0;
  HB_WV2_METHOD(put_ReasonPhrase)(LPCWSTR reasonPhrase) = 0;
};

struct ICoreWebView2Deferral : IUnknown {
  HB_WV2_METHOD(Complete)() = 0;
};

struct ICoreWebView2WebResourceRequestedEventArgs : IUnknown {
  HB_WV2_METHOD(get_Request)(ICoreWebView2WebResourceRequest** request) = 0;
  HB_WV2_METHOD(get_Response)(ICoreWebView2WebResourceResponse** response) = 0;
  HB_WV2_METHOD(put_Response)(ICoreWebView2WebResourceResponse* response) = 0;
  HB_WV2_METHOD(GetDeferral)(ICoreWebView2Deferral** deferral) = 0;
  HB_WV2_METHOD(get_ResourceContext)(COREWEBVIEW2_WEB_RESOURCE_CONTEXT* context) = 0;
};
struct ICoreWebView2WebResourceRequestedEventHandler : IUnknown {
  HB_WV2_METHOD(Invoke)
  (ICoreWebView2* sender, ICoreWebView2WebResourceRequestedEventArgs* args) = 0;
};

struct ICoreWebView2ProcessFailedEventArgs : IUnknown {
  HB_WV2_METHOD(get_ProcessFailedKind)(COREWEBVIEW2_PROCESS_FAILED_KIND* kind) = 0;
};
struct ICoreWebView2ProcessFailedEventHandler : IUnknown {
  HB_WV2_METHOD(Invoke)(ICoreWebView2* sender, ICoreWebView2ProcessFailedEventArgs* args) = 0;
};

// Navigation starting: the program tells its own navigations from the page's by their ids.
inline constexpr GUID IID_ICoreWebView2NavigationStartingEventHandler = {
    0x9adbe429, 0xf36d, 0x432b, {0x9d, 0xdc, 0xf8, 0x88, 0x1f, 0xbd, 0x76, 0xe3}};
inline constexpr GUID IID_ICoreWebView2NavigationStartingEventArgs = {
    0x5b495469, 0xe119, 0x438a, {0x9b, 0x18, 0x76, 0x04, 0xf2, 0x5f, 0x2e, 0x49}};
struct ICoreWebView2NavigationStartingEventArgs : IUnknown {
  HB_WV2_METHOD(get_Uri)(LPWSTR* uri) = 0;
  HB_WV2_METHOD(get_IsUserInitiated)(BOOL* isUserInitiated) = 0;
  HB_WV2_METHOD(get_IsRedirected)(BOOL* isRedirected) = 0;
  HB_WV2_METHOD(get_RequestHeaders)(ICoreWebView2HttpRequestHeaders** requestHeaders) = 0;
  HB_WV2_METHOD(get_Cancel)(BOOL* cancel) = 0;
  HB_WV2_METHOD(put_Cancel)(BOOL cancel) = 0;
  HB_WV2_METHOD(get_NavigationId)(UINT64* navigationId) = 0;
};
// The third generation tells a history navigation (back, forward) from a new document.
enum COREWEBVIEW2_NAVIGATION_KIND : int {
  COREWEBVIEW2_NAVIGATION_KIND_RELOAD = 0,
  COREWEBVIEW2_NAVIGATION_KIND_BACK_OR_FORWARD = 1,
  COREWEBVIEW2_NAVIGATION_KIND_NEW_DOCUMENT = 2,
};
inline constexpr GUID IID_ICoreWebView2NavigationStartingEventArgs2 = {
    0x9086be93, 0x91aa, 0x472d, {0xa7, 0xe0, 0x57, 0x9f, 0x2b, 0xa0, 0x06, 0xad}};
inline constexpr GUID IID_ICoreWebView2NavigationStartingEventArgs3 = {
    0xddffe494, 0x4942, 0x4bd2, {0xab, 0x73, 0x35, 0xb8, 0xff, 0x40, 0xe1, 0x9f}};
struct ICoreWebView2NavigationStartingEventArgs2 : ICoreWebView2NavigationStartingEventArgs {
  HB_WV2_METHOD(get_AdditionalAllowedFrameAncestors)(LPWSTR* value) = 0;
  HB_WV2_METHOD(put_AdditionalAllowedFrameAncestors)(LPCWSTR value) = 0;
};
struct ICoreWebView2NavigationStartingEventArgs3 : ICoreWebView2NavigationStartingEventArgs2 {
  HB_WV2_METHOD(get_NavigationKind)(COREWEBVIEW2_NAVIGATION_KIND* value) = 0;
};
struct ICoreWebView2NavigationStartingEventHandler : IUnknown {
  HB_WV2_METHOD(Invoke)(ICoreWebView2* sender, ICoreWebView2NavigationStartingEventArgs* args) = 0;
};

struct ICoreWebView2 : IUnknown {
  HB_WV2_METHOD(get_Settings)(ICoreWebView2Settings** settings) = 0;
  HB_WV2_METHOD(get_Source)(LPWSTR* uri) = 0;
  HB_WV2_METHOD(Navigate)(LPCWSTR uri) = 0;
  HB_WV2_METHOD(NavigateToString)(LPCWSTR htmlContent) = 0;
  HB_WV2_METHOD(add_NavigationStarting)(IUnknown* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_NavigationStarting)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(add_ContentLoading)(IUnknown* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_ContentLoading)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(add_SourceChanged)(IUnknown* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_SourceChanged)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(add_HistoryChanged)(IUnknown* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_HistoryChanged)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(add_NavigationCompleted)
  (ICoreWebView2NavigationCompletedEventHandler* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_NavigationCompleted)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(add_FrameNavigationStarting)(IUnknown* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_FrameNavigationStarting)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(add_FrameNavigationCompleted)(IUnknown* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_FrameNavigationCompleted)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(add_ScriptDialogOpening)(IUnknown* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_ScriptDialogOpening)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(add_PermissionRequested)(IUnknown* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_PermissionRequested)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(add_ProcessFailed)
  (ICoreWebView2ProcessFailedEventHandler* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_ProcessFailed)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(AddScriptToExecuteOnDocumentCreated)
  (LPCWSTR javaScript,
   ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler* handler) = 0;
  HB_WV2_METHOD(RemoveScriptToExecuteOnDocumentCreated)(LPCWSTR id) = 0;
  HB_WV2_METHOD(ExecuteScript)(LPCWSTR javaScript, IUnknown* handler) = 0;
  HB_WV2_METHOD(CapturePreview)(int imageFormat, IStream* imageStream, IUnknown* handler) = 0;
  HB_WV2_METHOD(Reload)() = 0;
  HB_WV2_METHOD(PostWebMessageAsJson)(LPCWSTR webMessageAsJson) = 0;
  HB_WV2_METHOD(PostWebMessageAsString)(LPCWSTR webMessageAsString) = 0;
  HB_WV2_METHOD(add_WebMessageReceived)
  (ICoreWebView2WebMessageReceivedEventHandler* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_WebMessageReceived)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(CallDevToolsProtocolMethod)
  (LPCWSTR methodName, LPCWSTR parametersAsJson, IUnknown* handler) = 0;
  HB_WV2_METHOD(get_BrowserProcessId)(UINT32* value) = 0;
  HB_WV2_METHOD(get_CanGoBack)(BOOL* canGoBack) = 0;
  HB_WV2_METHOD(get_CanGoForward)(BOOL* canGoForward) = 0;
  HB_WV2_METHOD(GoBack)() = 0;
  HB_WV2_METHOD(GoForward)() = 0;
  HB_WV2_METHOD(GetDevToolsProtocolEventReceiver)(LPCWSTR eventName, IUnknown** receiver) = 0;
  HB_WV2_METHOD(Stop)() = 0;
  HB_WV2_METHOD(add_NewWindowRequested)(IUnknown* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_NewWindowRequested)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(add_DocumentTitleChanged)(IUnknown* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_DocumentTitleChanged)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(get_DocumentTitle)(LPWSTR* title) = 0;
  HB_WV2_METHOD(AddHostObjectToScript)(LPCWSTR name, VARIANT* object) = 0;
  HB_WV2_METHOD(RemoveHostObjectFromScript)(LPCWSTR name) = 0;
  HB_WV2_METHOD(OpenDevToolsWindow)() = 0;
  HB_WV2_METHOD(add_ContainsFullScreenElementChanged)
  (IUnknown* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_ContainsFullScreenElementChanged)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(get_ContainsFullScreenElement)(BOOL* containsFullScreenElement) = 0;
  HB_WV2_METHOD(add_WebResourceRequested)
  (ICoreWebView2WebResourceRequestedEventHandler* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_WebResourceRequested)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(AddWebResourceRequestedFilter)
  (LPCWSTR uri, COREWEBVIEW2_WEB_RESOURCE_CONTEXT context) = 0;
  HB_WV2_METHOD(RemoveWebResourceRequestedFilter)
  (LPCWSTR uri, COREWEBVIEW2_WEB_RESOURCE_CONTEXT context) = 0;
  HB_WV2_METHOD(add_WindowCloseRequested)(IUnknown* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_WindowCloseRequested)(EventRegistrationToken token) = 0;
};

// ---- The kiosk's lock-down: new windows, script dialogs, permission prompts, navigations ----

inline constexpr GUID IID_ICoreWebView2NewWindowRequestedEventArgs = {
    0x34acb11c, 0xfc37, 0x4418, {0x91, 0x32, 0xf9, 0xc2, 0x1d, 0x1e, 0xaf, 0xb9}};
inline constexpr GUID IID_ICoreWebView2NewWindowRequestedEventHandler = {
    0xd4c185fe, 0xc81c, 0x4989, {0x97, 0xaf, 0x2d, 0x3f, 0xa7, 0xab, 0x56, 0x51}};
inline constexpr GUID IID_ICoreWebView2ScriptDialogOpeningEventArgs = {
    0x7390bb70, 0xabe0, 0x4843, {0x95, 0x29, 0xf1, 0x43, 0xb3, 0x1b, 0x03, 0xd6}};
inline constexpr GUID IID_ICoreWebView2ScriptDialogOpeningEventHandler = {
    0xef381bf9, 0xafa8, 0x4e37, {0x91, 0xc4, 0x8a, 0xc4, 0x85, 0x24, 0xbd, 0xfb}};
inline constexpr GUID IID_ICoreWebView2PermissionRequestedEventArgs = {
    0x973ae2ef, 0xff18, 0x4894, {0x8f, 0xb2, 0x3c, 0x75, 0x8f, 0x04, 0x68, 0x10}};
inline constexpr GUID IID_ICoreWebView2PermissionRequestedEventHandler = {
    0x15e1c6a3, 0xc72a, 0x4df3, {0x91, 0xd7, 0xd0, 0x97, 0xfb, 0xec, 0x6b, 0xfd}};
enum COREWEBVIEW2_SCRIPT_DIALOG_KIND : int {
  COREWEBVIEW2_SCRIPT_DIALOG_KIND_ALERT = 0,
  COREWEBVIEW2_SCRIPT_DIALOG_KIND_CONFIRM = 1,
  COREWEBVIEW2_SCRIPT_DIALOG_KIND_PROMPT = 2,
  COREWEBVIEW2_SCRIPT_DIALOG_KIND_BEFOREUNLOAD = 3,
};
using COREWEBVIEW2_PERMISSION_KIND = int;
enum COREWEBVIEW2_PERMISSION_STATE : int {
  COREWEBVIEW2_PERMISSION_STATE_DEFAULT = 0,
  COREWEBVIEW2_PERMISSION_STATE_ALLOW = 1,
  COREWEBVIEW2_PERMISSION_STATE_DENY = 2,
};

struct ICoreWebView2NewWindowRequestedEventArgs : IUnknown {
  HB_WV2_METHOD(get_Uri)(LPWSTR* uri) = 0;
  HB_WV2_METHOD(put_NewWindow)(ICoreWebView2* newWindow) = 0;
  HB_WV2_METHOD(get_NewWindow)(ICoreWebView2** newWindow) = 0;
  HB_WV2_METHOD(put_Handled)(BOOL handled) = 0;
  HB_WV2_METHOD(get_Handled)(BOOL* handled) = 0;
  HB_WV2_METHOD(get_IsUserInitiated)(BOOL* isUserInitiated) = 0;
  HB_WV2_METHOD(GetDeferral)(ICoreWebView2Deferral** deferral) = 0;
  HB_WV2_METHOD(get_WindowFeatures)(IUnknown** value) = 0;
};
struct ICoreWebView2NewWindowRequestedEventHandler : IUnknown {
  HB_WV2_METHOD(Invoke)(ICoreWebView2* sender, ICoreWebView2NewWindowRequestedEventArgs* args) = 0;
};

struct ICoreWebView2ScriptDialogOpeningEventArgs : IUnknown {
  HB_WV2_METHOD(get_Uri)(LPWSTR* uri) = 0;
  HB_WV2_METHOD(get_Kind)(COREWEBVIEW2_SCRIPT_DIALOG_KIND* kind) = 0;
  HB_WV2_METHOD(get_Message)(LPWSTR* message) = 0;
  HB_WV2_METHOD(Accept)() = 0;
  HB_WV2_METHOD(get_DefaultText)(LPWSTR* defaultText) = 0;
  HB_WV2_METHOD(get_ResultText)(LPWSTR* resultText) = 0;
  HB_WV2_METHOD(put_ResultText)(LPCWSTR resultText) = 0;
  HB_WV2_METHOD(GetDeferral)(ICoreWebView2Deferral** deferral) = 0;
};
struct ICoreWebView2ScriptDialogOpeningEventHandler : IUnknown {
  HB_WV2_METHOD(Invoke)(ICoreWebView2* sender, ICoreWebView2ScriptDialogOpeningEventArgs* args) = 0;
};

struct ICoreWebView2PermissionRequestedEventArgs : IUnknown {
  HB_WV2_METHOD(get_Uri)(LPWSTR* uri) = 0;
  HB_WV2_METHOD(get_PermissionKind)(COREWEBVIEW2_PERMISSION_KIND* permissionKind) = 0;
  HB_WV2_METHOD(get_IsUserInitiated)(BOOL* isUserInitiated) = 0;
  HB_WV2_METHOD(get_State)(COREWEBVIEW2_PERMISSION_STATE* state) = 0;
  HB_WV2_METHOD(put_State)(COREWEBVIEW2_PERMISSION_STATE state) = 0;
  HB_WV2_METHOD(GetDeferral)(ICoreWebView2Deferral** deferral) = 0;
};
struct ICoreWebView2PermissionRequestedEventHandler : IUnknown {
  HB_WV2_METHOD(Invoke)(ICoreWebView2* sender, ICoreWebView2PermissionRequestedEventArgs* args) = 0;
};

// ---- Later generations the lock-down reaches by QueryInterface: downloads and external drops ----
// Runtimes without them offer only the first generation; what these hold then cannot be asked.

inline constexpr GUID IID_ICoreWebView2_2 = {
    0x9e8f0cf8, 0xe670, 0x4b5e, {0xb2, 0xbc, 0x73, 0xe0, 0x61, 0xe3, 0x18, 0x4c}};
inline constexpr GUID IID_ICoreWebView2_3 = {
    0xa0d6df20, 0x3b92, 0x416d, {0xaa, 0x0c, 0x43, 0x7a, 0x9c, 0x72, 0x78, 0x57}};
inline constexpr GUID IID_ICoreWebView2_4 = {
    0x20d02d59, 0x6df2, 0x42dc, {0xbd, 0x06, 0xf9, 0x8a, 0x69, 0x4b, 0x13, 0x02}};
inline constexpr GUID IID_ICoreWebView2DownloadStartingEventArgs = {
    0xe99bbe21, 0x43e9, 0x4544, {0xa7, 0x32, 0x28, 0x27, 0x64, 0xea, 0xfa, 0x60}};
inline constexpr GUID IID_ICoreWebView2DownloadStartingEventHandler = {
    0xefedc989, 0xc396, 0x41ca, {0x83, 0xf7, 0x07, 0xf8, 0x45, 0xa5, 0x57, 0x24}};
inline constexpr GUID IID_ICoreWebView2Controller3 = {
    0xf9614724, 0x5d2b, 0x41dc, {0xae, 0xf7, 0x73, 0xd6, 0x2b, 0x51, 0x54, 0x3b}};
inline constexpr GUID IID_ICoreWebView2Controller4 = {
    0x97d418d5, 0xa426, 0x4e49, {0xa1, 0x51, 0xe1, 0xa1, 0x0f, 0x32, 0x7d, 0x9e}};

// Named as the official header names them; the program never calls through them.
struct ICoreWebView2WebResourceResponseReceivedEventHandler;
struct ICoreWebView2DOMContentLoadedEventHandler;
struct ICoreWebView2CookieManager;
struct ICoreWebView2TrySuspendCompletedHandler;
struct ICoreWebView2FrameCreatedEventHandler;
struct ICoreWebView2DownloadOperation;
struct ICoreWebView2RasterizationScaleChangedEventHandler;
enum COREWEBVIEW2_HOST_RESOURCE_ACCESS_KIND : int {
  COREWEBVIEW2_HOST_RESOURCE_ACCESS_KIND_DENY = 0
};
enum COREWEBVIEW2_BOUNDS_MODE : int { COREWEBVIEW2_BOUNDS_MODE_USE_RAW_PIXELS = 0 };

struct ICoreWebView2DownloadStartingEventArgs : IUnknown {
  HB_WV2_METHOD(get_DownloadOperation)(ICoreWebView2DownloadOperation** downloadOperation) = 0;
  HB_WV2_METHOD(get_Cancel)(BOOL* cancel) = 0;
  HB_WV2_METHOD(put_Cancel)(BOOL cancel) = 0;
  HB_WV2_METHOD(get_ResultFilePath)(LPWSTR* resultFilePath) = 0;
  HB_WV2_METHOD(put_ResultFilePath)(LPCWSTR resultFilePath) = 0;
  HB_WV2_METHOD(get_Handled)(BOOL* handled) = 0;
  HB_WV2_METHOD(put_Handled)(BOOL handled) = 0;
  HB_WV2_METHOD(GetDeferral)(ICoreWebView2Deferral** deferral) = 0;
};
struct ICoreWebView2DownloadStartingEventHandler : IUnknown {
  HB_WV2_METHOD(Invoke)(ICoreWebView2* sender, ICoreWebView2DownloadStartingEventArgs* args) = 0;
};

struct ICoreWebView2_2 : ICoreWebView2 {
  HB_WV2_METHOD(add_WebResourceResponseReceived)
  (ICoreWebView2WebResourceResponseReceivedEventHandler* eventHandler,
   EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_WebResourceResponseReceived)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(NavigateWithWebResourceRequest)(ICoreWebView2WebResourceRequest* request) = 0;
  HB_WV2_METHOD(add_DOMContentLoaded)
  (ICoreWebView2DOMContentLoadedEventHandler* eventHandler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_DOMContentLoaded)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(get_CookieManager)(ICoreWebView2CookieManager** cookieManager) = 0;
  HB_WV2_METHOD(get_Environment)(ICoreWebView2Environment** environment) = 0;
};
struct ICoreWebView2_3 : ICoreWebView2_2 {
  HB_WV2_METHOD(TrySuspend)(ICoreWebView2TrySuspendCompletedHandler* handler) = 0;
  HB_WV2_METHOD(Resume)() = 0;
  HB_WV2_METHOD(get_IsSuspended)(BOOL* isSuspended) = 0;
  HB_WV2_METHOD(SetVirtualHostNameToFolderMapping)
  (LPCWSTR hostName, LPCWSTR folderPath, COREWEBVIEW2_HOST_RESOURCE_ACCESS_KIND accessKind) = 0;
  HB_WV2_METHOD(ClearVirtualHostNameToFolderMapping)(LPCWSTR hostName) = 0;
};
struct ICoreWebView2_4 : ICoreWebView2_3 {
  HB_WV2_METHOD(add_FrameCreated)
  (ICoreWebView2FrameCreatedEventHandler* eventHandler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_FrameCreated)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(add_DownloadStarting)
  (ICoreWebView2DownloadStartingEventHandler* eventHandler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_DownloadStarting)(EventRegistrationToken token) = 0;
};

struct ICoreWebView2Controller3 : ICoreWebView2Controller2 {
  HB_WV2_METHOD(get_RasterizationScale)(double* scale) = 0;
  HB_WV2_METHOD(put_RasterizationScale)(double scale) = 0;
  HB_WV2_METHOD(get_ShouldDetectMonitorScaleChanges)(BOOL* value) = 0;
  HB_WV2_METHOD(put_ShouldDetectMonitorScaleChanges)(BOOL value) = 0;
  HB_WV2_METHOD(add_RasterizationScaleChanged)
  (ICoreWebView2RasterizationScaleChangedEventHandler* eventHandler,
   EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_RasterizationScaleChanged)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(get_BoundsMode)(COREWEBVIEW2_BOUNDS_MODE* boundsMode) = 0;
  HB_WV2_METHOD(put_BoundsMode)(COREWEBVIEW2_BOUNDS_MODE boundsMode) = 0;
};
struct ICoreWebView2Controller4 : ICoreWebView2Controller3 {
  HB_WV2_METHOD(get_AllowExternalDrop)(BOOL* value) = 0;
  HB_WV2_METHOD(put_AllowExternalDrop)(BOOL value) = 0;
};

// ---- Frames: a frame's web messages reach its own frame object, never the web view's ----

inline constexpr GUID IID_ICoreWebView2Frame = {
    0xf1131a5e, 0x9ba9, 0x11eb, {0xa8, 0xb3, 0x02, 0x42, 0xac, 0x13, 0x00, 0x03}};
inline constexpr GUID IID_ICoreWebView2Frame2 = {
    0x7a6a5834, 0xd185, 0x4dbf, {0xb6, 0x3f, 0x4a, 0x9b, 0xc4, 0x31, 0x07, 0xd4}};
inline constexpr GUID IID_ICoreWebView2FrameCreatedEventArgs = {
    0x4d6e7b5e, 0x9baa, 0x11eb, {0xa8, 0xb3, 0x02, 0x42, 0xac, 0x13, 0x00, 0x03}};
inline constexpr GUID IID_ICoreWebView2FrameCreatedEventHandler = {
    0x38059770, 0x9baa, 0x11eb, {0xa8, 0xb3, 0x02, 0x42, 0xac, 0x13, 0x00, 0x03}};
inline constexpr GUID IID_ICoreWebView2FrameWebMessageReceivedEventHandler = {
    0xe371e005, 0x6d1d, 0x4517, {0x93, 0x4b, 0xa8, 0xf1, 0x62, 0x9c, 0x62, 0xa5}};
struct ICoreWebView2Frame;
struct ICoreWebView2FrameWebMessageReceivedEventHandler : IUnknown {
  HB_WV2_METHOD(Invoke)
  (ICoreWebView2Frame* sender, ICoreWebView2WebMessageReceivedEventArgs* args) = 0;
};
struct ICoreWebView2Frame : IUnknown {
  HB_WV2_METHOD(get_Name)(LPWSTR* name) = 0;
  HB_WV2_METHOD(add_NameChanged)(IUnknown* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_NameChanged)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(AddHostObjectToScriptWithOrigins)
  (LPCWSTR name, VARIANT* object, UINT32 originsCount, LPCWSTR* origins) = 0;
  HB_WV2_METHOD(RemoveHostObjectFromScript)(LPCWSTR name) = 0;
  HB_WV2_METHOD(add_Destroyed)(IUnknown* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_Destroyed)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(IsDestroyed)(BOOL* destroyed) = 0;
};
struct ICoreWebView2Frame2 : ICoreWebView2Frame {
  HB_WV2_METHOD(add_NavigationStarting)(IUnknown* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_NavigationStarting)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(add_ContentLoading)(IUnknown* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_ContentLoading)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(add_NavigationCompleted)(IUnknown* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_NavigationCompleted)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(add_DOMContentLoaded)(IUnknown* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_DOMContentLoaded)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(ExecuteScript)(LPCWSTR javaScript, IUnknown* handler) = 0;
  HB_WV2_METHOD(PostWebMessageAsJson)(LPCWSTR webMessageAsJson) = 0;
  HB_WV2_METHOD(PostWebMessageAsString)(LPCWSTR webMessageAsString) = 0;
  HB_WV2_METHOD(add_WebMessageReceived)
  (ICoreWebView2FrameWebMessageReceivedEventHandler* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_WebMessageReceived)(EventRegistrationToken token) = 0;
};
struct ICoreWebView2FrameCreatedEventArgs : IUnknown {
  HB_WV2_METHOD(get_Frame)(ICoreWebView2Frame** frame) = 0;
};
struct ICoreWebView2FrameCreatedEventHandler : IUnknown {
  HB_WV2_METHOD(Invoke)(ICoreWebView2* sender, ICoreWebView2FrameCreatedEventArgs* args) = 0;
};

// ---- The web view's later generations, up to the one that tells of external programs ----
// Each adds to the one before it; the lock-down calls into the fifth (client certificates), the
// tenth (sign-in prompts), the eighteenth (links to other programs), the twenty-fifth (the save
// dialog) and the twenty-seventh (screen capture); the others are here for their slots.

inline constexpr GUID IID_ICoreWebView2_5 = {
    0xbedb11b8, 0xd63c, 0x11eb, {0xb8, 0xbc, 0x02, 0x42, 0xac, 0x13, 0x00, 0x03}};
inline constexpr GUID IID_ICoreWebView2_6 = {
    0x499aadac, 0xd92c, 0x4589, {0x8a, 0x75, 0x11, 0x1b, 0xfc, 0x16, 0x77, 0x95}};
inline constexpr GUID IID_ICoreWebView2_7 = {
    0x79c24d83, 0x09a3, 0x45ae, {0x94, 0x18, 0x48, 0x7f, 0x32, 0xa5, 0x87, 0x40}};
inline constexpr GUID IID_ICoreWebView2_8 = {
    0xe9632730, 0x6e1e, 0x43ab, {0xb7, 0xb8, 0x7b, 0x2c, 0x9e, 0x62, 0xe0, 0x94}};
inline constexpr GUID IID_ICoreWebView2_9 = {
    0x4d7b2eab, 0x9fdc, 0x468d, {0xb9, 0x98, 0xa9, 0x26, 0x0b, 0x5e, 0xd6, 0x51}};
inline constexpr GUID IID_ICoreWebView2_10 = {
    0xb1690564, 0x6f5a, 0x4983, {0x8e, 0x48, 0x31, 0xd1, 0x14, 0x3f, 0xec, 0xdb}};
inline constexpr GUID IID_ICoreWebView2_11 = {
    0x0be78e56, 0xc193, 0x4051, {0xb9, 0x43, 0x23, 0xb4, 0x60, 0xc0, 0x8b, 0xdb}};
inline constexpr GUID IID_ICoreWebView2_12 = {
    0x35d69927, 0xbcfa, 0x4566, {0x93, 0x49, 0x6b, 0x3e, 0x0d, 0x15, 0x4c, 0xac}};
inline constexpr GUID IID_ICoreWebView2_13 = {
    0xf75f09a8, 0x667e, 0x4983, {0x88, 0xd6, 0xc8, 0x77, 0x3f, 0x31, 0x5e, 0x84}};
inline constexpr GUID IID_ICoreWebView2_14 = {
    0x6daa4f10, 0x4a90, 0x4753, {0x88, 0x98, 0x77, 0xc5, 0xdf, 0x53, 0x41, 0x65}};
inline constexpr GUID IID_ICoreWebView2_15 = {
    0x517b2d1d, 0x7dae, 0x4a66, {0xa4, 0xf4, 0x10, 0x35, 0x2f, 0xfb, 0x95, 0x18}};
inline constexpr GUID IID_ICoreWebView2_16 = {
    0x0eb34dc9, 0x9f91, 0x41e1, {0x86, 0x39, 0x95, 0xcd, 0x59, 0x43, 0x90, 0x6b}};
inline constexpr GUID IID_ICoreWebView2_17 = {
    0x702e75d4, 0xfd44, 0x434d, {0x9d, 0x70, 0x1a, 0x68, 0xa6, 0xb1, 0x19, 0x2a}};
inline constexpr GUID IID_ICoreWebView2_18 = {
    0x7a626017, 0x28be, 0x49b2, {0xb8, 0x65, 0x3b, 0xa2, 0xb3, 0x52, 0x2d, 0x90}};
inline constexpr GUID IID_ICoreWebView2BasicAuthenticationRequestedEventArgs = {
    0xef05516f, 0xd897, 0x4f9e, {0xb6, 0x72, 0xd8, 0xe2, 0x30, 0x7a, 0x3f, 0xb0}};
inline constexpr GUID IID_ICoreWebView2BasicAuthenticationRequestedEventHandler = {
    0x58b4d6c2, 0x18d4, 0x497e, {0xb3, 0x9b, 0x9a, 0x96, 0x53, 0x3f, 0xa2, 0x78}};
inline constexpr GUID IID_ICoreWebView2LaunchingExternalUriSchemeEventArgs = {
    0x07d1a6c3, 0x7175, 0x4ba1, {0x93, 0x06, 0xe5, 0x93, 0xca, 0x07, 0xe4, 0x6c}};
inline constexpr GUID IID_ICoreWebView2LaunchingExternalUriSchemeEventHandler = {
    0x74f712e0, 0x8165, 0x43a9, {0xa1, 0x3f, 0x0c, 0xce, 0x59, 0x7e, 0x75, 0xdf}};
struct ICoreWebView2BasicAuthenticationRequestedEventArgs : IUnknown {
  HB_WV2_METHOD(get_Uri)(LPWSTR* value) = 0;
  HB_WV2_METHOD(get_Challenge)(LPWSTR* challenge) = 0;
  HB_WV2_METHOD(get_Response)(IUnknown** response) = 0;
  HB_WV2_METHOD(get_Cancel)(BOOL* cancel) = 0;
  HB_WV2_METHOD(put_Cancel)(BOOL cancel) = 0;
  HB_WV2_METHOD(GetDeferral)(ICoreWebView2Deferral** deferral) = 0;
};
struct ICoreWebView2BasicAuthenticationRequestedEventHandler : IUnknown {
  HB_WV2_METHOD(Invoke)
  (ICoreWebView2* sender, ICoreWebView2BasicAuthenticationRequestedEventArgs* args) = 0;
};
struct ICoreWebView2LaunchingExternalUriSchemeEventArgs : IUnknown {
  HB_WV2_METHOD(get_Uri)(LPWSTR* value) = 0;
  HB_WV2_METHOD(get_InitiatingOrigin)(LPWSTR* value) = 0;
  HB_WV2_METHOD(get_IsUserInitiated)(BOOL* value) = 0;
  HB_WV2_METHOD(get_Cancel)(BOOL* value) = 0;
  HB_WV2_METHOD(put_Cancel)(BOOL value) = 0;
  HB_WV2_METHOD(GetDeferral)(ICoreWebView2Deferral** value) = 0;
};
struct ICoreWebView2LaunchingExternalUriSchemeEventHandler : IUnknown {
  HB_WV2_METHOD(Invoke)
  (ICoreWebView2* sender, ICoreWebView2LaunchingExternalUriSchemeEventArgs* args) = 0;
};
inline constexpr GUID IID_ICoreWebView2ClientCertificateRequestedEventArgs = {
    0xbc59db28, 0xbcc3, 0x11eb, {0x85, 0x29, 0x02, 0x42, 0xac, 0x13, 0x00, 0x03}};
inline constexpr GUID IID_ICoreWebView2ClientCertificateRequestedEventHandler = {
    0xd7175ba2, 0xbcc3, 0x11eb, {0x85, 0x29, 0x02, 0x42, 0xac, 0x13, 0x00, 0x03}};
struct ICoreWebView2ClientCertificateRequestedEventArgs : IUnknown {
  HB_WV2_METHOD(get_Host)(LPWSTR* value) = 0;
  HB_WV2_METHOD(get_Port)(int* value) = 0;
  HB_WV2_METHOD(get_IsProxy)(BOOL* value) = 0;
  HB_WV2_METHOD(get_AllowedCertificateAuthorities)(IUnknown** value) = 0;
  HB_WV2_METHOD(get_MutuallyTrustedCertificates)(IUnknown** value) = 0;
  HB_WV2_METHOD(get_SelectedCertificate)(IUnknown** value) = 0;
  HB_WV2_METHOD(put_SelectedCertificate)(IUnknown* value) = 0;
  HB_WV2_METHOD(get_Cancel)(BOOL* value) = 0;
  HB_WV2_METHOD(put_Cancel)(BOOL value) = 0;
  HB_WV2_METHOD(get_Handled)(BOOL* value) = 0;
  HB_WV2_METHOD(put_Handled)(BOOL value) = 0;
  HB_WV2_METHOD(GetDeferral)(ICoreWebView2Deferral** deferral) = 0;
};
struct ICoreWebView2ClientCertificateRequestedEventHandler : IUnknown {
  HB_WV2_METHOD(Invoke)
  (ICoreWebView2* sender, ICoreWebView2ClientCertificateRequestedEventArgs* args) = 0;
};
struct ICoreWebView2_5 : ICoreWebView2_4 {
  HB_WV2_METHOD(add_ClientCertificateRequested)
  (ICoreWebView2ClientCertificateRequestedEventHandler* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_ClientCertificateRequested)(EventRegistrationToken token) = 0;
};
struct ICoreWebView2_6 : ICoreWebView2_5 {
  HB_WV2_METHOD(OpenTaskManagerWindow)() = 0;
};
struct ICoreWebView2_7 : ICoreWebView2_6 {
  HB_WV2_METHOD(PrintToPdf)(LPCWSTR resultFilePath, IUnknown* printSettings, IUnknown* handler) = 0;
};
struct ICoreWebView2_8 : ICoreWebView2_7 {
  HB_WV2_METHOD(add_IsMutedChanged)(IUnknown* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_IsMutedChanged)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(get_IsMuted)(BOOL* value) = 0;
  HB_WV2_METHOD(put_IsMuted)(BOOL value) = 0;
  HB_WV2_METHOD(add_IsDocumentPlayingAudioChanged)
  (IUnknown* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_IsDocumentPlayingAudioChanged)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(get_IsDocumentPlayingAudio)(BOOL* value) = 0;
};
struct ICoreWebView2_9 : ICoreWebView2_8 {
  HB_WV2_METHOD(add_IsDefaultDownloadDialogOpenChanged)
  (IUnknown* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_IsDefaultDownloadDialogOpenChanged)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(get_IsDefaultDownloadDialogOpen)(BOOL* value) = 0;
  HB_WV2_METHOD(OpenDefaultDownloadDialog)() = 0;
  HB_WV2_METHOD(CloseDefaultDownloadDialog)() = 0;
  HB_WV2_METHOD(get_DefaultDownloadDialogCornerAlignment)(int* value) = 0;
  HB_WV2_METHOD(put_DefaultDownloadDialogCornerAlignment)(int value) = 0;
  HB_WV2_METHOD(get_DefaultDownloadDialogMargin)(POINT* value) = 0;
  HB_WV2_METHOD(put_DefaultDownloadDialogMargin)(POINT value) = 0;
};
struct ICoreWebView2_10 : ICoreWebView2_9 {
  HB_WV2_METHOD(add_BasicAuthenticationRequested)
  (ICoreWebView2BasicAuthenticationRequestedEventHandler* handler,
   EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_BasicAuthenticationRequested)(EventRegistrationToken token) = 0;
};
struct ICoreWebView2_11 : ICoreWebView2_10 {
  HB_WV2_METHOD(CallDevToolsProtocolMethodForSession)
  (LPCWSTR sessionId, LPCWSTR methodName, LPCWSTR parametersAsJson, IUnknown* handler) = 0;
  HB_WV2_METHOD(add_ContextMenuRequested)(IUnknown* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_ContextMenuRequested)(EventRegistrationToken token) = 0;
};
struct ICoreWebView2_12 : ICoreWebView2_11 {
  HB_WV2_METHOD(add_StatusBarTextChanged)(IUnknown* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_StatusBarTextChanged)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(get_StatusBarText)(LPWSTR* value) = 0;
};
struct ICoreWebView2_13 : ICoreWebView2_12 {
  HB_WV2_METHOD(get_Profile)(IUnknown** value) = 0;
};
struct ICoreWebView2_14 : ICoreWebView2_13 {
  HB_WV2_METHOD(add_ServerCertificateErrorDetected)
  (IUnknown* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_ServerCertificateErrorDetected)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(ClearServerCertificateErrorActions)(IUnknown* handler) = 0;
};
struct ICoreWebView2_15 : ICoreWebView2_14 {
  HB_WV2_METHOD(add_FaviconChanged)(IUnknown* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_FaviconChanged)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(get_FaviconUri)(LPWSTR* value) = 0;
  HB_WV2_METHOD(GetFavicon)(int format, IUnknown* completedHandler) = 0;
};
struct ICoreWebView2_16 : ICoreWebView2_15 {
  HB_WV2_METHOD(Print)(IUnknown* printSettings, IUnknown* handler) = 0;
  HB_WV2_METHOD(ShowPrintUI)(int printDialogKind) = 0;
  HB_WV2_METHOD(PrintToPdfStream)(IUnknown* printSettings, IUnknown* handler) = 0;
};
struct ICoreWebView2_17 : ICoreWebView2_16 {
  HB_WV2_METHOD(PostSharedBufferToScript)
  (IUnknown* sharedBuffer, int access, LPCWSTR additionalDataAsJson) = 0;
};
struct ICoreWebView2_18 : ICoreWebView2_17 {
  HB_WV2_METHOD(add_LaunchingExternalUriScheme)
  (ICoreWebView2LaunchingExternalUriSchemeEventHandler* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_LaunchingExternalUriScheme)(EventRegistrationToken token) = 0;
};

// Beyond it, up to the generation that tells of screen capture and the one of the save dialog.
inline constexpr GUID IID_ICoreWebView2_19 = {
    0x6921f954, 0x79b0, 0x437f, {0xa9, 0x97, 0xc8, 0x58, 0x11, 0x89, 0x7c, 0x68}};
inline constexpr GUID IID_ICoreWebView2_20 = {
    0xb4bc1926, 0x7305, 0x11ee, {0xb9, 0x62, 0x02, 0x42, 0xac, 0x12, 0x00, 0x02}};
inline constexpr GUID IID_ICoreWebView2_21 = {
    0xc4980dea, 0x587b, 0x43b9, {0x81, 0x43, 0x3e, 0xf3, 0xbf, 0x55, 0x2d, 0x95}};
inline constexpr GUID IID_ICoreWebView2_22 = {
    0xdb75dfc7, 0xa857, 0x4632, {0xa3, 0x98, 0x69, 0x69, 0xdd, 0xe2, 0x6c, 0x0a}};
inline constexpr GUID IID_ICoreWebView2_23 = {
    0x508f0db5, 0x90c4, 0x5872, {0x90, 0xa7, 0x26, 0x7a, 0x91, 0x37, 0x75, 0x02}};
inline constexpr GUID IID_ICoreWebView2_24 = {
    0x39a7ad55, 0x4287, 0x5cc1, {0x88, 0xa1, 0xc6, 0xf4, 0x58, 0x59, 0x38, 0x24}};
inline constexpr GUID IID_ICoreWebView2_25 = {
    0xb5a86092, 0xdf50, 0x5b4f, {0xa1, 0x7b, 0x6c, 0x8f, 0x8b, 0x40, 0xb7, 0x71}};
inline constexpr GUID IID_ICoreWebView2_26 = {
    0x806268b8, 0xf897, 0x5685, {0x88, 0xe5, 0xc4, 0x5f, 0xca, 0x0b, 0x1a, 0x48}};
inline constexpr GUID IID_ICoreWebView2_27 = {
    0x00fbe33b, 0x8c07, 0x517c, {0xaa, 0x23, 0x0d, 0xdd, 0x4b, 0x5f, 0x6f, 0xa0}};
inline constexpr GUID IID_ICoreWebView2SaveAsUIShowingEventArgs = {
    0x55902952, 0x0e0d, 0x5aaa, {0xa7, 0xd0, 0xe8, 0x33, 0xcd, 0xb3, 0x4f, 0x62}};
inline constexpr GUID IID_ICoreWebView2SaveAsUIShowingEventHandler = {
    0x6baa177e, 0x3a2e, 0x5ccf, {0x9a, 0x13, 0xfa, 0xd6, 0x76, 0xcd, 0x05, 0x22}};
inline constexpr GUID IID_ICoreWebView2ScreenCaptureStartingEventArgs = {
    0x892c03fd, 0xaee3, 0x5eba, {0xa1, 0xfa, 0x6f, 0xd2, 0xf6, 0x48, 0x4b, 0x2b}};
inline constexpr GUID IID_ICoreWebView2ScreenCaptureStartingEventHandler = {
    0xe24ff05a, 0x1db5, 0x59d9, {0x89, 0xf3, 0x3c, 0x86, 0x42, 0x68, 0xdb, 0x4a}};
struct ICoreWebView2SaveAsUIShowingEventArgs : IUnknown {
  HB_WV2_METHOD(get_ContentMimeType)(LPWSTR* value) = 0;
  HB_WV2_METHOD(put_Cancel)(BOOL value) = 0;
  HB_WV2_METHOD(get_Cancel)(BOOL* value) = 0;
  HB_WV2_METHOD(put_SuppressDefaultDialog)(BOOL value) = 0;
  HB_WV2_METHOD(get_SuppressDefaultDialog)(BOOL* value) = 0;
  HB_WV2_METHOD(GetDeferral)(ICoreWebView2Deferral** value) = 0;
  HB_WV2_METHOD(put_SaveAsFilePath)(LPCWSTR value) = 0;
  HB_WV2_METHOD(get_SaveAsFilePath)(LPWSTR* value) = 0;
  HB_WV2_METHOD(put_AllowReplace)(BOOL value) = 0;
  HB_WV2_METHOD(get_AllowReplace)(BOOL* value) = 0;
  HB_WV2_METHOD(put_Kind)(int value) = 0;
  HB_WV2_METHOD(get_Kind)(int* value) = 0;
};
struct ICoreWebView2SaveAsUIShowingEventHandler : IUnknown {
  HB_WV2_METHOD(Invoke)(ICoreWebView2* sender, ICoreWebView2SaveAsUIShowingEventArgs* args) = 0;
};
struct ICoreWebView2ScreenCaptureStartingEventArgs : IUnknown {
  HB_WV2_METHOD(get_Cancel)(BOOL* value) = 0;
  HB_WV2_METHOD(put_Cancel)(BOOL value) = 0;
  HB_WV2_METHOD(get_Handled)(BOOL* value) = 0;
  HB_WV2_METHOD(put_Handled)(BOOL value) = 0;
  HB_WV2_METHOD(get_OriginalSourceFrameInfo)(IUnknown** value) = 0;
  HB_WV2_METHOD(GetDeferral)(ICoreWebView2Deferral** value) = 0;
};
struct ICoreWebView2ScreenCaptureStartingEventHandler : IUnknown {
  HB_WV2_METHOD(Invoke)
  (ICoreWebView2* sender, ICoreWebView2ScreenCaptureStartingEventArgs* args) = 0;
};
struct ICoreWebView2_19 : ICoreWebView2_18 {
  HB_WV2_METHOD(get_MemoryUsageTargetLevel)(int* value) = 0;
  HB_WV2_METHOD(put_MemoryUsageTargetLevel)(int value) = 0;
};
struct ICoreWebView2_20 : ICoreWebView2_19 {
  HB_WV2_METHOD(get_FrameId)(UINT32* value) = 0;
};
struct ICoreWebView2_21 : ICoreWebView2_20 {
  HB_WV2_METHOD(ExecuteScriptWithResult)(LPCWSTR javaScript, IUnknown* handler) = 0;
};
struct ICoreWebView2_22 : ICoreWebView2_21 {
  HB_WV2_METHOD(AddWebResourceRequestedFilterWithRequestSourceKinds)
  (LPCWSTR uri, COREWEBVIEW2_WEB_RESOURCE_CONTEXT context, int requestSourceKinds) = 0;
  HB_WV2_METHOD(RemoveWebResourceRequestedFilterWithRequestSourceKinds)
  (LPCWSTR uri, COREWEBVIEW2_WEB_RESOURCE_CONTEXT context, int requestSourceKinds) = 0;
};
struct ICoreWebView2_23 : ICoreWebView2_22 {
  HB_WV2_METHOD(PostWebMessageAsJsonWithAdditionalObjects)
  (LPCWSTR webMessageAsJson, IUnknown* additionalObjects) = 0;
};
struct ICoreWebView2_24 : ICoreWebView2_23 {
  HB_WV2_METHOD(add_NotificationReceived)(IUnknown* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_NotificationReceived)(EventRegistrationToken token) = 0;
};
struct ICoreWebView2_25 : ICoreWebView2_24 {
  HB_WV2_METHOD(add_SaveAsUIShowing)
  (ICoreWebView2SaveAsUIShowingEventHandler* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_SaveAsUIShowing)(EventRegistrationToken token) = 0;
  HB_WV2_METHOD(ShowSaveAsUI)(IUnknown* handler) = 0;
};
struct ICoreWebView2_26 : ICoreWebView2_25 {
  HB_WV2_METHOD(add_SaveFileSecurityCheckStarting)
  (IUnknown* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_SaveFileSecurityCheckStarting)(EventRegistrationToken token) = 0;
};
struct ICoreWebView2_27 : ICoreWebView2_26 {
  HB_WV2_METHOD(add_ScreenCaptureStarting)
  (ICoreWebView2ScreenCaptureStartingEventHandler* handler, EventRegistrationToken* token) = 0;
  HB_WV2_METHOD(remove_ScreenCaptureStarting)(EventRegistrationToken token) = 0;
};

// The seventh settings generation hides buttons of the runtime's PDF viewer.
inline constexpr GUID IID_ICoreWebView2Settings7 = {
    0x488dc902, 0x35ef, 0x42d2, {0xbc, 0x7d, 0x94, 0xb6, 0x5c, 0x4b, 0xc4, 0x9c}};
enum COREWEBVIEW2_PDF_TOOLBAR_ITEMS : int {
  COREWEBVIEW2_PDF_TOOLBAR_ITEMS_SAVE = 0x1,
  COREWEBVIEW2_PDF_TOOLBAR_ITEMS_PRINT = 0x2,
  COREWEBVIEW2_PDF_TOOLBAR_ITEMS_SAVE_AS = 0x4,
  COREWEBVIEW2_PDF_TOOLBAR_ITEMS_FULL_SCREEN = 0x800,
  COREWEBVIEW2_PDF_TOOLBAR_ITEMS_MORE_SETTINGS = 0x1000,
};
struct ICoreWebView2Settings7 : ICoreWebView2Settings6 {
  HB_WV2_METHOD(get_HiddenPdfToolbarItems)(COREWEBVIEW2_PDF_TOOLBAR_ITEMS* value) = 0;
  HB_WV2_METHOD(put_HiddenPdfToolbarItems)(COREWEBVIEW2_PDF_TOOLBAR_ITEMS value) = 0;
};

#undef HB_WV2_METHOD

// The loader's one export the program uses.
using TCreateEnvironmentWithOptions =
    HRESULT(STDAPICALLTYPE*)(LPCWSTR browserExecutableFolder, LPCWSTR userDataFolder,
                             ICoreWebView2EnvironmentOptions* options,
                             ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler);
inline constexpr const char* kCreateEnvironmentExport = "CreateCoreWebView2EnvironmentWithOptions";

} // namespace hb::wv2
