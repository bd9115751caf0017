// Reads a .msg file with @kenjiuno/msgreader and prints what it saw as
// JSON: subject, sender, body, recipients and attachments (nested messages
// described the same way). Exits with 77 when the module is not installed.
const fs = require('fs');
const crypto = require('crypto');

let MsgReader;
try {
    MsgReader = require('@kenjiuno/msgreader').default;
} catch (e) {
    process.exit(77);
}

function describe(reader, data) {
    return {
        subject: data.subject || '',
        senderName: data.senderName || '',
        senderEmail: data.senderEmail || '',
        body: data.body || '',
        recipients: (data.recipients || []).map(r => ({ name: r.name || '', email: r.email || '' })),
        attachments: (data.attachments || []).map(a => {
            if (a.innerMsgContent)
                return { message: describe(reader, a.innerMsgContentFields) };
            const content = reader.getAttachment(a).content;
            return {
                name: a.fileName || '',
                size: content.length,
                sha256: crypto.createHash('sha256').update(content).digest('hex'),
            };
        }),
    };
}

const reader = new MsgReader(fs.readFileSync(process.argv[2]));
const data = reader.getFileData();
if (data.error) {
    console.error(data.error);
    process.exit(1);
}
const version = require('@kenjiuno/msgreader/package.json').version;
process.stdout.write(JSON.stringify({ version, message: describe(reader, data) }));
