// Identifiers shared by the resource script and the dialog procedures.
#pragma once

#define IDD_CRASH            9
#define IDD_BUGREPORT        10
#define IDI_APP              102
#define IDD_DETAILS          103
#define IDD_WAIT             104
#define IDD_SENDING          105

#define IDC_COMMENTS         1001
#define IDC_HEADLINE         1003
#define IDC_SEND             1004
#define IDC_DONTSEND         1005
#define IDC_DETAILS          1006
#define IDC_ELEMENT          1007
#define IDC_STEPS            1008
#define IDC_HAPPENED         1009
#define IDC_SHOULDHAPPEN     1010
#define IDC_ALLOWCONTACT     1011
#define IDC_EMAIL            1012
#define IDC_CANCEL           1014
#define IDC_SEND_PROGRESS    1015

#ifndef IDC_STATIC
#define IDC_STATIC           (-1)
#endif
