#!/usr/bin/env bash
# Makes WORK/velk-setup-signed.exe: the installer of INPUTS, signed by
# velkpack build with a throwaway self-signed code signing certificate
# (made here with openssl, its password in a file), and checks the
# signature with osslsigncode against that certificate.
#
#   make_signed_installer.sh VELKPACK STUB INPUTS WORK
set -u
velkpack=$1 stub=$2 inputs=$3 work=$4
rm -rf "$work" && mkdir -p "$work" || exit 1
cd "$work" || exit 1
password="throwaway $$"
if ! { openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Velk Test Signer" \
         -addext extendedKeyUsage=codeSigning -keyout signer.key -out signer.pem &&
       openssl pkcs12 -export -inkey signer.key -in signer.pem -out signer.p12 -passout "pass:$password"; } \
     >openssl.log 2>&1; then
  cat openssl.log; echo "openssl could not make the certificate" >&2; exit 1
fi
printf '%s\n' "$password" >signer.pass
"$velkpack" build "$inputs" --stub "$stub" -o velk-setup-signed.exe \
  --sign signer.p12 --password-file signer.pass || { echo "velkpack build --sign failed" >&2; exit 1; }
osslsigncode verify -in velk-setup-signed.exe -CAfile signer.pem >verify.log 2>&1 ||
  { cat verify.log; echo "osslsigncode verify refuses the signed installer" >&2; exit 1; }
grep -q 'Signature verification: ok' verify.log || { cat verify.log; exit 1; }
echo "signed installer: $work/velk-setup-signed.exe, verified against signer.pem"
