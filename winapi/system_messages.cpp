// The system message table: the US-English text of each result code the
// verifier can return, and of the neighbouring platform codes a user may
// meet, in the one-line form the platform gives when line breaks are not
// kept (each line break of a message becomes one space). Sorted by code.
#include "winapi/system_messages.h"

#include <algorithm>
#include <iterator>

namespace winapi {

namespace {

struct SystemMessage {
    DWORD code;
    const char* text;
};

constexpr SystemMessage systemMessages[] = {
    {0x00000000, "The operation completed successfully. "},  // ERROR_SUCCESS
    {0x80004001, "Not implemented "},  // E_NOTIMPL
    {0x80004002, "No such interface supported "},  // E_NOINTERFACE
    {0x80004003, "Invalid pointer "},  // E_POINTER
    {0x80004004, "Operation aborted "},  // E_ABORT
    {0x80004005, "Unspecified error "},  // E_FAIL
    {0x8000FFFF, "Catastrophic failure "},  // E_UNEXPECTED
    {0x80070001, "Incorrect function. "},  // HRESULT_FROM_WIN32(ERROR_INVALID_FUNCTION)
    {0x80070002, "The system cannot find the file specified. "},  // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
    {0x80070003, "The system cannot find the path specified. "},  // HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)
    {0x80070004, "The system cannot open the file. "},  // HRESULT_FROM_WIN32(ERROR_TOO_MANY_OPEN_FILES)
    {0x80070005, "Access is denied. "},  // HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)
    {0x80070006, "The handle is invalid. "},  // HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE)
    {0x80070008, "Not enough memory resources are available to process this command. "},  // HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY)
    {0x8007000D, "The data is invalid. "},  // HRESULT_FROM_WIN32(ERROR_INVALID_DATA)
    {0x8007000E, "Not enough memory resources are available to complete this operation. "},  // HRESULT_FROM_WIN32(ERROR_OUTOFMEMORY)
    {0x8007000F, "The system cannot find the drive specified. "},  // HRESULT_FROM_WIN32(ERROR_INVALID_DRIVE)
    {0x80070015, "The device is not ready. "},  // HRESULT_FROM_WIN32(ERROR_NOT_READY)
    {0x80070017, "Data error (cyclic redundancy check). "},  // HRESULT_FROM_WIN32(ERROR_CRC)
    {0x8007001E, "The system cannot read from the specified device. "},  // HRESULT_FROM_WIN32(ERROR_READ_FAULT)
    {0x8007001F, "A device attached to the system is not functioning. "},  // HRESULT_FROM_WIN32(ERROR_GEN_FAILURE)
    {0x80070020, "The process cannot access the file because it is being used by another process. "},  // HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION)
    {0x80070021, "The process cannot access the file because another process has locked a portion of the file. "},  // HRESULT_FROM_WIN32(ERROR_LOCK_VIOLATION)
    {0x80070026, "Reached the end of the file. "},  // HRESULT_FROM_WIN32(ERROR_HANDLE_EOF)
    {0x80070032, "The request is not supported. "},  // HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED)
    {0x80070035, "The network path was not found. "},  // HRESULT_FROM_WIN32(ERROR_BAD_NETPATH)
    {0x80070037, "The specified network resource or device is no longer available. "},  // HRESULT_FROM_WIN32(ERROR_DEV_NOT_EXIST)
    {0x8007003B, "An unexpected network error occurred. "},  // HRESULT_FROM_WIN32(ERROR_UNEXP_NET_ERR)
    {0x80070040, "The specified network name is no longer available. "},  // HRESULT_FROM_WIN32(ERROR_NETNAME_DELETED)
    {0x80070041, "Network access is denied. "},  // HRESULT_FROM_WIN32(ERROR_NETWORK_ACCESS_DENIED)
    {0x80070043, "The network name cannot be found. "},  // HRESULT_FROM_WIN32(ERROR_BAD_NET_NAME)
    {0x80070057, "The parameter is incorrect. "},  // HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER)
    {0x8007006E, "The system cannot open the device or file specified. "},  // HRESULT_FROM_WIN32(ERROR_OPEN_FAILED)
    {0x8007007A, "The data area passed to a system call is too small. "},  // HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER)
    {0x8007007B, "The filename, directory name, or volume label syntax is incorrect. "},  // HRESULT_FROM_WIN32(ERROR_INVALID_NAME)
    {0x800700A1, "The specified path is invalid. "},  // HRESULT_FROM_WIN32(ERROR_BAD_PATHNAME)
    {0x800700CE, "The filename or extension is too long. "},  // HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE)
    {0x800700DF, "The file size exceeds the limit allowed and cannot be saved. "},  // HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE)
    {0x800700E1, "Operation did not complete successfully because the file contains a virus or potentially unwanted software. "},  // HRESULT_FROM_WIN32(ERROR_VIRUS_INFECTED)
    {0x800700E2, "This file contains a virus or potentially unwanted software and cannot be opened. Due to the nature of this virus or potentially unwanted software, the file has been removed from this location. "},  // HRESULT_FROM_WIN32(ERROR_VIRUS_DELETED)
    {0x8007010B, "The directory name is invalid. "},  // HRESULT_FROM_WIN32(ERROR_DIRECTORY)
    {0x8007012F, "The file cannot be opened because it is in the process of being deleted. "},  // HRESULT_FROM_WIN32(ERROR_DELETE_PENDING)
    {0x800703E3, "The I/O operation has been aborted because of either a thread exit or an application request. "},  // HRESULT_FROM_WIN32(ERROR_OPERATION_ABORTED)
    {0x800703E6, "Invalid access to memory location. "},  // HRESULT_FROM_WIN32(ERROR_NOACCESS)
    {0x800703ED, "The volume does not contain a recognized file system. Please make sure that all required file system drivers are loaded and that the volume is not corrupted. "},  // HRESULT_FROM_WIN32(ERROR_UNRECOGNIZED_VOLUME)
    {0x800703EE, "The volume for a file has been externally altered so that the opened file is no longer valid. "},  // HRESULT_FROM_WIN32(ERROR_FILE_INVALID)
    {0x8007045D, "The request could not be performed because of an I/O device error. "},  // HRESULT_FROM_WIN32(ERROR_IO_DEVICE)
    {0x8007048F, "The device is not connected. "},  // HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED)
    {0x80070570, "The file or directory is corrupted and unreadable. "},  // HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT)
    {0x80070571, "The disk structure is corrupted and unreadable. "},  // HRESULT_FROM_WIN32(ERROR_DISK_CORRUPT)
    {0x800705AA, "Insufficient system resources exist to complete the requested service. "},  // HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES)
    {0x800705AD, "Insufficient quota to complete the requested service. "},  // HRESULT_FROM_WIN32(ERROR_WORKING_SET_QUOTA)
    {0x800705AF, "The paging file is too small for this operation to complete. "},  // HRESULT_FROM_WIN32(ERROR_COMMITMENT_LIMIT)
    {0x80070780, "The file cannot be accessed by the system. "},  // HRESULT_FROM_WIN32(ERROR_CANT_ACCESS_FILE)
    {0x80070781, "The name of the file cannot be resolved by the system. "},  // HRESULT_FROM_WIN32(ERROR_CANT_RESOLVE_FILENAME)
    {0x80090001, "Bad UID. "},  // NTE_BAD_UID
    {0x80090002, "Bad Hash. "},  // NTE_BAD_HASH
    {0x80090003, "Bad Key. "},  // NTE_BAD_KEY
    {0x80090004, "Bad Length. "},  // NTE_BAD_LEN
    {0x80090005, "Bad Data. "},  // NTE_BAD_DATA
    {0x80090006, "Invalid Signature. "},  // NTE_BAD_SIGNATURE
    {0x80090007, "Bad Version of provider. "},  // NTE_BAD_VER
    {0x80090008, "Invalid algorithm specified. "},  // NTE_BAD_ALGID
    {0x80090009, "Invalid flags specified. "},  // NTE_BAD_FLAGS
    {0x8009000A, "Invalid type specified. "},  // NTE_BAD_TYPE
    {0x8009000B, "Key not valid for use in specified state. "},  // NTE_BAD_KEY_STATE
    {0x8009000C, "Hash not valid for use in specified state. "},  // NTE_BAD_HASH_STATE
    {0x8009000D, "Key does not exist. "},  // NTE_NO_KEY
    {0x8009000E, "Insufficient memory available for the operation. "},  // NTE_NO_MEMORY
    {0x8009000F, "Object already exists. "},  // NTE_EXISTS
    {0x80090010, "Access denied. "},  // NTE_PERM
    {0x80090011, "Object was not found. "},  // NTE_NOT_FOUND
    {0x80090012, "Data already encrypted. "},  // NTE_DOUBLE_ENCRYPT
    {0x80090013, "Invalid provider specified. "},  // NTE_BAD_PROVIDER
    {0x80090014, "Invalid provider type specified. "},  // NTE_BAD_PROV_TYPE
    {0x80090015, "Provider's public key is invalid. "},  // NTE_BAD_PUBLIC_KEY
    {0x80090016, "Keyset does not exist "},  // NTE_BAD_KEYSET
    {0x80090017, "Provider type not defined. "},  // NTE_PROV_TYPE_NOT_DEF
    {0x80090018, "Provider type as registered is invalid. "},  // NTE_PROV_TYPE_ENTRY_BAD
    {0x80090019, "The keyset is not defined. "},  // NTE_KEYSET_NOT_DEF
    {0x8009001A, "Keyset as registered is invalid. "},  // NTE_KEYSET_ENTRY_BAD
    {0x8009001B, "Provider type does not match registered value. "},  // NTE_PROV_TYPE_NO_MATCH
    {0x8009001C, "The digital signature file is corrupt. "},  // NTE_SIGNATURE_FILE_BAD
    {0x8009001D, "Provider DLL failed to initialize correctly. "},  // NTE_PROVIDER_DLL_FAIL
    {0x8009001E, "Provider DLL could not be found. "},  // NTE_PROV_DLL_NOT_FOUND
    {0x8009001F, "The Keyset parameter is invalid. "},  // NTE_BAD_KEYSET_PARAM
    {0x80090020, "An internal error occurred. "},  // NTE_FAIL
    {0x80090021, "A base error occurred. "},  // NTE_SYS_ERR
    {0x80090022, "Provider could not perform the action since the context was acquired as silent. "},  // NTE_SILENT_CONTEXT
    {0x80090023, "The security token does not have storage space available for an additional container. "},  // NTE_TOKEN_KEYSET_STORAGE_FULL
    {0x80090024, "The profile for the user is a temporary profile. "},  // NTE_TEMPORARY_PROFILE
    {0x80090025, "The key parameters could not be set because the CSP uses fixed parameters. "},  // NTE_FIXEDPARAMETER
    {0x80090026, "The supplied handle is invalid. "},  // NTE_INVALID_HANDLE
    {0x80090027, "The parameter is incorrect. "},  // NTE_INVALID_PARAMETER
    {0x80090028, "The buffer supplied to a function was too small. "},  // NTE_BUFFER_TOO_SMALL
    {0x80090029, "The requested operation is not supported. "},  // NTE_NOT_SUPPORTED
    {0x8009002A, "No more data is available. "},  // NTE_NO_MORE_ITEMS
    {0x8009002B, "The supplied buffers overlap incorrectly. "},  // NTE_BUFFERS_OVERLAP
    {0x8009002C, "The specified data could not be decrypted. "},  // NTE_DECRYPTION_FAILURE
    {0x8009002D, "An internal consistency check failed. "},  // NTE_INTERNAL_ERROR
    {0x8009002E, "This operation requires input from the user. "},  // NTE_UI_REQUIRED
    {0x8009002F, "The cryptographic provider does not support HMAC. "},  // NTE_HMAC_NOT_SUPPORTED
    {0x80090030, "The device that is required by this cryptographic provider is not ready for use. "},  // NTE_DEVICE_NOT_READY
    {0x80090300, "Not enough memory is available to complete this request "},  // SEC_E_INSUFFICIENT_MEMORY
    {0x80090301, "The handle specified is invalid "},  // SEC_E_INVALID_HANDLE
    {0x80090302, "The function requested is not supported "},  // SEC_E_UNSUPPORTED_FUNCTION
    {0x80090304, "The Local Security Authority cannot be contacted "},  // SEC_E_INTERNAL_ERROR
    {0x80090305, "The requested security package does not exist "},  // SEC_E_SECPKG_NOT_FOUND
    {0x80090308, "The token supplied to the function is invalid "},  // SEC_E_INVALID_TOKEN
    {0x8009030F, "The message or signature supplied for verification has been altered "},  // SEC_E_MESSAGE_ALTERED
    {0x80090318, "The supplied message is incomplete. The signature was not verified. "},  // SEC_E_INCOMPLETE_MESSAGE
    {0x80090321, "The buffers supplied to a function was too small. "},  // SEC_E_BUFFER_TOO_SMALL
    {0x80090325, "The certificate chain was issued by an authority that is not trusted. "},  // SEC_E_UNTRUSTED_ROOT
    {0x80090326, "The message received was unexpected or badly formatted. "},  // SEC_E_ILLEGAL_MESSAGE
    {0x80090327, "An unknown error occurred while processing the certificate. "},  // SEC_E_CERT_UNKNOWN
    {0x80090328, "The received certificate has expired. "},  // SEC_E_CERT_EXPIRED
    {0x80090331, "The client and server cannot communicate, because they do not possess a common algorithm. "},  // SEC_E_ALGORITHM_MISMATCH
    {0x80090349, "The certificate is not valid for the requested usage. "},  // SEC_E_CERT_WRONG_USAGE
    {0x8009035D, "One or more of the parameters passed to the function was invalid. "},  // SEC_E_INVALID_PARAMETER
    {0x80091001, "An error occurred while performing an operation on a cryptographic message. "},  // CRYPT_E_MSG_ERROR
    {0x80091002, "Unknown cryptographic algorithm. "},  // CRYPT_E_UNKNOWN_ALGO
    {0x80091003, "The object identifier is poorly formatted. "},  // CRYPT_E_OID_FORMAT
    {0x80091004, "Invalid cryptographic message type. "},  // CRYPT_E_INVALID_MSG_TYPE
    {0x80091005, "Unexpected cryptographic message encoding. "},  // CRYPT_E_UNEXPECTED_ENCODING
    {0x80091006, "The cryptographic message does not contain an expected authenticated attribute. "},  // CRYPT_E_AUTH_ATTR_MISSING
    {0x80091007, "The hash value is not correct. "},  // CRYPT_E_HASH_VALUE
    {0x80091008, "The index value is not valid. "},  // CRYPT_E_INVALID_INDEX
    {0x80091009, "The content of the cryptographic message has already been decrypted. "},  // CRYPT_E_ALREADY_DECRYPTED
    {0x8009100A, "The content of the cryptographic message has not been decrypted yet. "},  // CRYPT_E_NOT_DECRYPTED
    {0x8009100B, "The enveloped-data message does not contain the specified recipient. "},  // CRYPT_E_RECIPIENT_NOT_FOUND
    {0x8009100C, "Invalid control type. "},  // CRYPT_E_CONTROL_TYPE
    {0x8009100D, "Invalid issuer and/or serial number. "},  // CRYPT_E_ISSUER_SERIALNUMBER
    {0x8009100E, "Cannot find the original signer. "},  // CRYPT_E_SIGNER_NOT_FOUND
    {0x8009100F, "The cryptographic message does not contain all of the requested attributes. "},  // CRYPT_E_ATTRIBUTES_MISSING
    {0x80091010, "The streamed cryptographic message is not ready to return data. "},  // CRYPT_E_STREAM_MSG_NOT_READY
    {0x80091011, "The streamed cryptographic message requires more data to complete the decode operation. "},  // CRYPT_E_STREAM_INSUFFICIENT_DATA
    {0x80092001, "The length specified for the output data was insufficient. "},  // CRYPT_E_BAD_LEN
    {0x80092002, "An error occurred during encode or decode operation. "},  // CRYPT_E_BAD_ENCODE
    {0x80092003, "An error occurred while reading or writing to a file. "},  // CRYPT_E_FILE_ERROR
    {0x80092004, "Cannot find object or property. "},  // CRYPT_E_NOT_FOUND
    {0x80092005, "The object or property already exists. "},  // CRYPT_E_EXISTS
    {0x80092006, "No provider was specified for the store or object. "},  // CRYPT_E_NO_PROVIDER
    {0x80092007, "The specified certificate is self signed. "},  // CRYPT_E_SELF_SIGNED
    {0x80092008, "The previous certificate or CRL context was deleted. "},  // CRYPT_E_DELETED_PREV
    {0x80092009, "Cannot find the requested object. "},  // CRYPT_E_NO_MATCH
    {0x8009200A, "The certificate does not have a property that references a private key. "},  // CRYPT_E_UNEXPECTED_MSG_TYPE
    {0x8009200B, "Cannot find the certificate and private key for decryption. "},  // CRYPT_E_NO_KEY_PROPERTY
    {0x8009200C, "Cannot find the certificate and private key to use for decryption. "},  // CRYPT_E_NO_DECRYPT_CERT
    {0x8009200D, "Not a cryptographic message or the cryptographic message is not formatted correctly. "},  // CRYPT_E_BAD_MSG
    {0x8009200E, "The signed cryptographic message does not have a signer for the specified signer index. "},  // CRYPT_E_NO_SIGNER
    {0x8009200F, "Final closure is pending until additional frees or closes. "},  // CRYPT_E_PENDING_CLOSE
    {0x80092010, "The certificate is revoked. "},  // CRYPT_E_REVOKED
    {0x80092011, "No Dll or exported function was found to verify revocation. "},  // CRYPT_E_NO_REVOCATION_DLL
    {0x80092012, "The revocation function was unable to check revocation for the certificate. "},  // CRYPT_E_NO_REVOCATION_CHECK
    {0x80092013, "The revocation function was unable to check revocation because the revocation server was offline. "},  // CRYPT_E_REVOCATION_OFFLINE
    {0x80092014, "The certificate is not in the revocation server's database. "},  // CRYPT_E_NOT_IN_REVOCATION_DATABASE
    {0x80092020, "The string contains a non-numeric character. "},  // CRYPT_E_INVALID_NUMERIC_STRING
    {0x80092021, "The string contains a non-printable character. "},  // CRYPT_E_INVALID_PRINTABLE_STRING
    {0x80092022, "The string contains a character not in the 7 bit ASCII character set. "},  // CRYPT_E_INVALID_IA5_STRING
    {0x80092023, "The string contains an invalid X500 name attribute key, oid, value or delimiter. "},  // CRYPT_E_INVALID_X500_STRING
    {0x80092024, "The dwValueType for the CERT_NAME_VALUE is not one of the character strings. Most likely it is either a CERT_RDN_ENCODED_BLOB or CERT_RDN_OCTET_STRING. "},  // CRYPT_E_NOT_CHAR_STRING
    {0x80092025, "The Put operation cannot continue. The file needs to be resized. However, there is already a signature present. A complete signing operation must be done. "},  // CRYPT_E_FILERESIZED
    {0x80092026, "The cryptographic operation failed due to a local security option setting. "},  // CRYPT_E_SECURITY_SETTINGS
    {0x80092027, "No DLL or exported function was found to verify subject usage. "},  // CRYPT_E_NO_VERIFY_USAGE_DLL
    {0x80092028, "The called function was unable to do a usage check on the subject. "},  // CRYPT_E_NO_VERIFY_USAGE_CHECK
    {0x80092029, "Since the server was offline, the called function was unable to complete the usage check. "},  // CRYPT_E_VERIFY_USAGE_OFFLINE
    {0x8009202A, "The subject was not found in a Certificate Trust List (CTL). "},  // CRYPT_E_NOT_IN_CTL
    {0x8009202B, "None of the signers of the cryptographic message or certificate trust list is trusted. "},  // CRYPT_E_NO_TRUSTED_SIGNER
    {0x8009202C, "The public key's algorithm parameters are missing. "},  // CRYPT_E_MISSING_PUBKEY_PARA
    {0x8009202D, "An object could not be located using the object locator infrastructure with the given name. "},  // CRYPT_E_OBJECT_LOCATOR_OBJECT_NOT_FOUND
    {0x80093001, "OSS ASN.1 Error: Output Buffer is too small. "},  // OSS_MORE_BUF
    {0x80093002, "OSS ASN.1 Error: Signed integer is encoded as a unsigned integer. "},  // OSS_NEGATIVE_UINTEGER
    {0x80093003, "OSS ASN.1 Error: Unknown ASN.1 data type. "},  // OSS_PDU_RANGE
    {0x80093004, "OSS ASN.1 Error: Output buffer is too small, the decoded data has been truncated. "},  // OSS_MORE_INPUT
    {0x80093005, "OSS ASN.1 Error: Invalid data. "},  // OSS_DATA_ERROR
    {0x80093006, "OSS ASN.1 Error: Invalid argument. "},  // OSS_BAD_ARG
    {0x80093007, "OSS ASN.1 Error: Encode/Decode version mismatch. "},  // OSS_BAD_VERSION
    {0x80093008, "OSS ASN.1 Error: Out of memory. "},  // OSS_OUT_MEMORY
    {0x80093009, "OSS ASN.1 Error: Encode/Decode Error. "},  // OSS_PDU_MISMATCH
    {0x8009300A, "OSS ASN.1 Error: Internal Error. "},  // OSS_LIMITED
    {0x8009300B, "OSS ASN.1 Error: Invalid data. "},  // OSS_BAD_PTR
    {0x8009300C, "OSS ASN.1 Error: Invalid data. "},  // OSS_BAD_TIME
    {0x8009300D, "OSS ASN.1 Error: Unsupported BER indefinite-length encoding. "},  // OSS_INDEFINITE_NOT_SUPPORTED
    {0x8009300E, "OSS ASN.1 Error: Access violation. "},  // OSS_MEM_ERROR
    {0x8009300F, "OSS ASN.1 Error: Invalid data. "},  // OSS_BAD_TABLE
    {0x80093010, "OSS ASN.1 Error: Invalid data. "},  // OSS_TOO_LONG
    {0x80093011, "OSS ASN.1 Error: Invalid data. "},  // OSS_CONSTRAINT_VIOLATED
    {0x80093012, "OSS ASN.1 Error: Internal Error. "},  // OSS_FATAL_ERROR
    {0x80093013, "OSS ASN.1 Error: Multi-threading conflict. "},  // OSS_ACCESS_SERIALIZATION_ERROR
    {0x80093014, "OSS ASN.1 Error: Invalid data. "},  // OSS_NULL_TBL
    {0x80093015, "OSS ASN.1 Error: Invalid data. "},  // OSS_NULL_FCN
    {0x80093016, "OSS ASN.1 Error: Invalid data. "},  // OSS_BAD_ENCRULES
    {0x80093017, "OSS ASN.1 Error: Encode/Decode function not implemented. "},  // OSS_UNAVAIL_ENCRULES
    {0x80093018, "OSS ASN.1 Error: Trace file error. "},  // OSS_CANT_OPEN_TRACE_WINDOW
    {0x80093019, "OSS ASN.1 Error: Function not implemented. "},  // OSS_UNIMPLEMENTED
    {0x8009301A, "OSS ASN.1 Error: Program link error. "},  // OSS_OID_DLL_NOT_LINKED
    {0x8009301B, "OSS ASN.1 Error: Trace file error. "},  // OSS_CANT_OPEN_TRACE_FILE
    {0x8009301C, "OSS ASN.1 Error: Trace file error. "},  // OSS_TRACE_FILE_ALREADY_OPEN
    {0x8009301D, "OSS ASN.1 Error: Invalid data. "},  // OSS_TABLE_MISMATCH
    {0x8009301E, "OSS ASN.1 Error: Invalid data. "},  // OSS_TYPE_NOT_SUPPORTED
    {0x8009301F, "OSS ASN.1 Error: Program link error. "},  // OSS_REAL_DLL_NOT_LINKED
    {0x80093020, "OSS ASN.1 Error: Program link error. "},  // OSS_REAL_CODE_NOT_LINKED
    {0x80093021, "OSS ASN.1 Error: Program link error. "},  // OSS_OUT_OF_RANGE
    {0x80093022, "OSS ASN.1 Error: Program link error. "},  // OSS_COPIER_DLL_NOT_LINKED
    {0x80093023, "OSS ASN.1 Error: Program link error. "},  // OSS_CONSTRAINT_DLL_NOT_LINKED
    {0x80093024, "OSS ASN.1 Error: Program link error. "},  // OSS_COMPARATOR_DLL_NOT_LINKED
    {0x80093025, "OSS ASN.1 Error: Program link error. "},  // OSS_COMPARATOR_CODE_NOT_LINKED
    {0x80093026, "OSS ASN.1 Error: Program link error. "},  // OSS_MEM_MGR_DLL_NOT_LINKED
    {0x80093027, "OSS ASN.1 Error: Program link error. "},  // OSS_PDV_DLL_NOT_LINKED
    {0x80093028, "OSS ASN.1 Error: Program link error. "},  // OSS_PDV_CODE_NOT_LINKED
    {0x80093029, "OSS ASN.1 Error: Program link error. "},  // OSS_API_DLL_NOT_LINKED
    {0x8009302A, "OSS ASN.1 Error: Program link error. "},  // OSS_BERDER_DLL_NOT_LINKED
    {0x8009302B, "OSS ASN.1 Error: Program link error. "},  // OSS_PER_DLL_NOT_LINKED
    {0x8009302C, "OSS ASN.1 Error: Program link error. "},  // OSS_OPEN_TYPE_ERROR
    {0x8009302D, "OSS ASN.1 Error: System resource error. "},  // OSS_MUTEX_NOT_CREATED
    {0x8009302E, "OSS ASN.1 Error: Trace file error. "},  // OSS_CANT_CLOSE_TRACE_FILE
    {0x80093100, "ASN1 Certificate encode/decode error code base. The ASN1 error values are offset by CRYPT_E_ASN1_ERROR. "},  // CRYPT_E_ASN1_ERROR
    {0x80093101, "ASN1 internal encode or decode error. "},  // CRYPT_E_ASN1_INTERNAL
    {0x80093102, "ASN1 unexpected end of data. "},  // CRYPT_E_ASN1_EOD
    {0x80093103, "ASN1 corrupted data. "},  // CRYPT_E_ASN1_CORRUPT
    {0x80093104, "ASN1 value too large. "},  // CRYPT_E_ASN1_LARGE
    {0x80093105, "ASN1 constraint violated. "},  // CRYPT_E_ASN1_CONSTRAINT
    {0x80093106, "ASN1 out of memory. "},  // CRYPT_E_ASN1_MEMORY
    {0x80093107, "ASN1 buffer overflow. "},  // CRYPT_E_ASN1_OVERFLOW
    {0x80093108, "ASN1 function not supported for this PDU. "},  // CRYPT_E_ASN1_BADPDU
    {0x80093109, "ASN1 bad arguments to function call. "},  // CRYPT_E_ASN1_BADARGS
    {0x8009310A, "ASN1 bad real value. "},  // CRYPT_E_ASN1_BADREAL
    {0x8009310B, "ASN1 bad tag value met. "},  // CRYPT_E_ASN1_BADTAG
    {0x8009310C, "ASN1 bad choice value. "},  // CRYPT_E_ASN1_CHOICE
    {0x8009310D, "ASN1 bad encoding rule. "},  // CRYPT_E_ASN1_RULE
    {0x8009310E, "ASN1 bad unicode (UTF8). "},  // CRYPT_E_ASN1_UTF8
    {0x80093133, "ASN1 bad PDU type. "},  // CRYPT_E_ASN1_PDU_TYPE
    {0x80093134, "ASN1 not yet implemented. "},  // CRYPT_E_ASN1_NYI
    {0x80093201, "ASN1 skipped unknown extension(s). "},  // CRYPT_E_ASN1_EXTENDED
    {0x80093202, "ASN1 end of data expected "},  // CRYPT_E_ASN1_NOEOD
    {0x80096001, "A system-level error occurred while verifying trust. "},  // TRUST_E_SYSTEM_ERROR
    {0x80096002, "The certificate for the signer of the message is invalid or not found. "},  // TRUST_E_NO_SIGNER_CERT
    {0x80096003, "One of the counter signatures was invalid. "},  // TRUST_E_COUNTER_SIGNER
    {0x80096004, "The signature of the certificate cannot be verified. "},  // TRUST_E_CERT_SIGNATURE
    {0x80096005, "The timestamp signature and/or certificate could not be verified or is malformed. "},  // TRUST_E_TIME_STAMP
    {0x80096010, "The digital signature of the object did not verify. "},  // TRUST_E_BAD_DIGEST
    {0x80096011, "The digital signature of the object is malformed. For technical detail, see security bulletin MS13-098. "},  // TRUST_E_MALFORMED_SIGNATURE
    {0x80096019, "A certificate's basic constraint extension has not been observed. "},  // TRUST_E_BASIC_CONSTRAINTS
    {0x8009601E, "The certificate does not meet or contain the Authenticode(tm) financial extensions. "},  // TRUST_E_FINANCIAL_CRITERIA
    {0x800B0001, "Unknown trust provider. "},  // TRUST_E_PROVIDER_UNKNOWN
    {0x800B0002, "The trust verification action specified is not supported by the specified trust provider. "},  // TRUST_E_ACTION_UNKNOWN
    {0x800B0003, "The form specified for the subject is not one supported or known by the specified trust provider. "},  // TRUST_E_SUBJECT_FORM_UNKNOWN
    {0x800B0004, "The subject is not trusted for the specified action. "},  // TRUST_E_SUBJECT_NOT_TRUSTED
    {0x800B0005, "Error due to problem in ASN.1 encoding process. "},  // DIGSIG_E_ENCODE
    {0x800B0006, "Error due to problem in ASN.1 decoding process. "},  // DIGSIG_E_DECODE
    {0x800B0007, "Reading / writing Extensions where Attributes are appropriate, and vice versa. "},  // DIGSIG_E_EXTENSIBILITY
    {0x800B0008, "Unspecified cryptographic failure. "},  // DIGSIG_E_CRYPTO
    {0x800B0009, "The size of the data could not be determined. "},  // PERSIST_E_SIZEDEFINITE
    {0x800B000A, "The size of the indefinite-sized data could not be determined. "},  // PERSIST_E_SIZEINDEFINITE
    {0x800B000B, "This object does not read and write self-sizing data. "},  // PERSIST_E_NOTSELFSIZING
    {0x800B0100, "No signature was present in the subject. "},  // TRUST_E_NOSIGNATURE
    {0x800B0101, "A required certificate is not within its validity period when verifying against the current system clock or the timestamp in the signed file. "},  // CERT_E_EXPIRED
    {0x800B0102, "The validity periods of the certification chain do not nest correctly. "},  // CERT_E_VALIDITYPERIODNESTING
    {0x800B0103, "A certificate that can only be used as an end-entity is being used as a CA or vice versa. "},  // CERT_E_ROLE
    {0x800B0104, "A path length constraint in the certification chain has been violated. "},  // CERT_E_PATHLENCONST
    {0x800B0105, "A certificate contains an unknown extension that is marked 'critical'. "},  // CERT_E_CRITICAL
    {0x800B0106, "A certificate being used for a purpose other than the ones specified by its CA. "},  // CERT_E_PURPOSE
    {0x800B0107, "A parent of a given certificate in fact did not issue that child certificate. "},  // CERT_E_ISSUERCHAINING
    {0x800B0108, "A certificate is missing or has an empty value for an important field, such as a subject or issuer name. "},  // CERT_E_MALFORMED
    {0x800B0109, "A certificate chain processed, but terminated in a root certificate which is not trusted by the trust provider. "},  // CERT_E_UNTRUSTEDROOT
    {0x800B010A, "A certificate chain could not be built to a trusted root authority. "},  // CERT_E_CHAINING
    {0x800B010B, "Generic trust failure. "},  // TRUST_E_FAIL
    {0x800B010C, "A certificate was explicitly revoked by its issuer. "},  // CERT_E_REVOKED
    {0x800B010D, "The certification path terminates with the test root which is not trusted with the current policy settings. "},  // CERT_E_UNTRUSTEDTESTROOT
    {0x800B010E, "The revocation process could not continue - the certificate(s) could not be checked. "},  // CERT_E_REVOCATION_FAILURE
    {0x800B010F, "The certificate's CN name does not match the passed value. "},  // CERT_E_CN_NO_MATCH
    {0x800B0110, "The certificate is not valid for the requested usage. "},  // CERT_E_WRONG_USAGE
    {0x800B0111, "The certificate was explicitly marked as untrusted by the user. "},  // TRUST_E_EXPLICIT_DISTRUST
    {0x800B0112, "A certification chain processed correctly, but one of the CA certificates is not trusted by the policy provider. "},  // CERT_E_UNTRUSTEDCA
    {0x800B0113, "The certificate has invalid policy. "},  // CERT_E_INVALID_POLICY
    {0x800B0114, "The certificate has an invalid name. The name is not included in the permitted list or is explicitly excluded. "},  // CERT_E_INVALID_NAME
};

constexpr bool sortedByCode() {
    for (std::size_t i = 1; i < std::size(systemMessages); ++i) {
        if (systemMessages[i - 1].code >= systemMessages[i].code) {
            return false;
        }
    }
    return true;
}
static_assert(sortedByCode());

}  // namespace

const char* systemMessageText(DWORD code) {
    const auto* found = std::lower_bound(std::begin(systemMessages), std::end(systemMessages), code,
                                         [](const SystemMessage& message, DWORD key) { return message.code < key; });
    return found != std::end(systemMessages) && found->code == code ? found->text : nullptr;
}

}  // namespace winapi
