/* Machine-dependent JNI types for the Windows cross builds, which have no JDK of their own.
   JNIEXPORT is empty on purpose: the module definition file is the one list of exports, so
   the 32-bit build exports the decorated names only and nothing twice. */
#ifndef BRISVANDER_JNI_MD_H
#define BRISVANDER_JNI_MD_H

#define JNIEXPORT
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef __int64 jlong;
typedef signed char jbyte;

#endif
