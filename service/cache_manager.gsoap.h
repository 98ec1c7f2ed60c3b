// The cache manager service as the gSOAP code generator reads it: SOAP 1.1,
// RPC style, SOAP encoding. Parts are named in0, in1, ...; each response's
// one part is declared with a leading underscore, so it is matched by
// position whatever its element name. xsd__string has serializers of our
// own (soap_types.cpp) that reject a foreign xsi:type.

//gsoap ns1 service name: CacheManager
//gsoap ns1 service style: rpc
//gsoap ns1 service encoding: encoded
//gsoap ns1 service namespace: urn:com.orbek.cachemanager
//gsoap ns1 service location: http://localhost:8080/cacheManager/services/CacheManager
//gsoap ns1 schema namespace: urn:com.orbek.cachemanager

extern typedef char *xsd__string;
typedef long long xsd__long;
typedef int xsd__int;
struct xsd__base64Binary { unsigned char *__ptr; int __size; };

int ns1__login(xsd__string in0, xsd__string *_loginReturn);
int ns1__deleteFile(xsd__string in0, xsd__string in1, xsd__string *_deleteFileReturn);
int ns1__logout(xsd__string in0, xsd__string *_logoutReturn);
int ns1__createFile(xsd__string in0, xsd__string in1, xsd__string in2, xsd__string *_createFileReturn);
int ns1__writeFileAttachment(xsd__string in0, xsd__string in1, xsd__string *_writeFileAttachmentReturn);
int ns1__writeFileBlock(xsd__string in0, xsd__string in1, struct xsd__base64Binary in2, xsd__long in3, xsd__int in4, xsd__string *_writeFileBlockReturn);
int ns1__finalizeFile(xsd__string in0, xsd__string in1, xsd__string *_finalizeFileReturn);
int ns1__finalizeFileWithMetadata(xsd__string in0, xsd__string in1, xsd__string in2, xsd__string *_finalizeFileWithMetadataReturn);
int ns1__deletePolicy(xsd__string in0, xsd__string in1, xsd__string *_deletePolicyReturn);
int ns1__getFileAttr(xsd__string in0, xsd__string in1, xsd__string *_getFileAttrReturn);
int ns1__getStoreContentsForPath(xsd__string in0, xsd__string in1, xsd__string *_getStoreContentsForPathReturn);
int ns1__getStoreMetricsForUser(xsd__string in0, xsd__string *_getStoreMetricsForUserReturn);
int ns1__getPoliciesForAgent(xsd__string in0, xsd__long in1, xsd__string *_getPoliciesForAgentReturn);
int ns1__getAgentSymLinks(xsd__string in0, xsd__string *_getAgentSymLinksReturn);
int ns1__setAgentSymLinks(xsd__string in0, xsd__string in1, xsd__string *_setAgentSymLinksReturn);
int ns1__writeGhostFileAttachment(xsd__string in0, xsd__string in1, xsd__string *_writeGhostFileAttachmentReturn);
int ns1__getFile(xsd__string in0, xsd__string in1, xsd__int in2, xsd__long in3, xsd__int in4, struct xsd__base64Binary *_getFileReturn);

// The history of a file, offered by cachemanager-local beside the
// operations above, in a namespace of its own on the same endpoint and
// session. Answers as above: a result code, or the document.
//gsoap zh service name: CacheHistory
//gsoap zh service style: rpc
//gsoap zh service encoding: encoded
//gsoap zh service namespace: urn:cachemanager-local:history
//gsoap zh schema namespace: urn:cachemanager-local:history
// <versions path=".."><version id=".." size=".." became=".." ended=".." deleted="0|1"/>...</versions>
int zh__listVersions(xsd__string in0, xsd__string in1, xsd__string *_listVersionsReturn);
// The folder as it was at a time (seconds since 1970): the listing of
// getStoreContentsForPath, where a file no longer current has version="ID".
int zh__listFolderAt(xsd__string in0, xsd__string in1, xsd__long in2, xsd__string *_listFolderAtReturn);
// Bytes of a kept version: id, offset, length (at most 1 MiB).
int zh__getVersion(xsd__string in0, xsd__long in1, xsd__long in2, xsd__int in3, struct xsd__base64Binary *_getVersionReturn);
