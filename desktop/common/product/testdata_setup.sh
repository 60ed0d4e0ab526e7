#!/bin/bash
# Outside-oracle results for the tests of the product's identity. Usage: testdata_setup.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1
B=$2
rm -rf "$D"; mkdir -p "$D/branding"

# Branding: wrestool (icoutils) extracts "TXT" 133 of every test host, of the test-automation stand-in and of
# the product's own host; Python's json says what each getter must then answer. The product's test host must
# carry exactly the resource of installer.exe, which is what its expectation is computed from.
resource() { wrestool -x --raw --type=TXT --name=133 "$1"; }
resource "$B/installer.exe" | python3 -c 'import json, sys; assert isinstance(json.load(sys.stdin), dict)'
cmp <(resource "$B/installer.exe") <(resource "$B/product_info_host_product.exe")
for host in product_info_test_child.exe product_info_host_{delta,array_root,wrong_kinds,unparsable}.exe \
            branding_fallback_module.dll installer.exe; do
  resource "$B/$host" > "$D/branding/${host%.*}.json"
done
python3 "${BASH_SOURCE[0]%/*}/testdata_branding.py" "$D/branding"
