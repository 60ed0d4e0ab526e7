import json, os, re, sys
d, host = sys.argv[1], sys.argv[2]
load = lambda name: json.load(open(os.path.join(d, name), encoding='utf-8'))
inputs, installed, final = load('recorded_inputs.json'), load('recorded_install.json'), load('recorded_tasks.json')
errors = []
# The description is the host's English string of the task; the schedule is the branding's choice.
strings = open(os.path.join(host, 'strings_en.rc'), encoding='utf-8').read()
description = re.search(r'^\s*IDS_AUTOUPDATE_TASK,\s*"((?:[^"]|"")*)"', strings, re.M).group(1).replace('""', '"')
branding = json.load(open(os.path.join(host, 'branding.json')))
scheduled, name = bool(branding['schedule_autoupdate_task']), branding['product_name'] + ' scheduled Autoupdate 0123'
want = {'program': inputs['program'], 'arguments': '--scheduledautoupdate $(Arg0)',
        'description': description, 'all_users': False, 'execution_time_limit_seconds': 3600,
        'trigger_kind': 1 if scheduled else 2, 'add_logon_trigger': scheduled,
        'run_only_if_network_available': True, 'enabled': True}
if installed.get('tasks') != {name: want}:
    errors.append('the install registered %r' % installed.get('tasks'))
creates = [(c['suffix'], c['result']) for c in final['calls'] if c['call'] == 'Create']
if [r for _, r in creates] != [True, True, True, False]:
    errors.append('Create results %r' % creates)
runs = [c for c in final['calls'] if c['call'] == 'Run']
if [(r['arguments'], r['result']) for r in runs] != [(['now'], True), ([], False)]:
    errors.append('Run calls %r' % runs)
if sorted(final['tasks']) != ['Other scheduled Autoupdate 0123']:
    errors.append('left after the sweep: %r' % sorted(final['tasks']))
processes = {c['process'] for c in final['calls']}
if len(processes) < 6:
    errors.append('calls of only %d processes' % len(processes))
for e in errors:
    print('recorded tasks: ' + e, file=sys.stderr)
if not errors:
    print('json: the recorded tasks of %d processes hold what each asked for' % len(processes))
sys.exit(1 if errors else 0)
